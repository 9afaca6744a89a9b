#!/usr/bin/env bash
# Builds the libFuzzer targets of the mesh file readers with clang (address
# and undefined-behaviour sanitizers) in build/fuzz and runs each for a few
# seconds from a generated seed corpus. Fails on a crash, a hang, a leak or a
# sanitizer report. VELAR_FUZZ_SECONDS sets the time per target (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz
seconds=${VELAR_FUZZ_SECONDS:-5}

cmake -S . -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELAR_BUILD_FUZZ=ON -DVELAR_BUILD_TESTS=OFF -DVELAR_BUILD_BENCH=OFF \
  -DVELAR_SANITIZE=address,undefined \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" --target fuzz_stl_binary fuzz_stl_ascii fuzz_vgeo fuzz_project fuzz_seeds

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ASAN_OPTIONS=detect_leaks=0 "$build/fuzz/fuzz_seeds" "$work/seeds"
# A small project archive for the project reader: descriptor, one geometry
# entry (the first geometry seed) and one support entry.
(
  mkdir -p "$work/seeds/project" "$work/vpf/ObjGeo" "$work/vpf/Support" && cd "$work/vpf"
  set -- "$work/seeds/vgeo/"*
  cp "$1" ObjGeo/0.vsg
  printf '<Project><Header><DocVersion>1.0</DocVersion></Header><General><ViewPort RenderScale="2" ModelViewMatrix="1;0;0;0;0;1;0;0;0;0;1;0;0;0;0;1" LastPosX="0" LastPosY="0" RenderCenter="0;0;0"/></General><Objects TotalObjectNo="1"><Object Name="a" ID="0" NumberTriangles="12"/></Objects></Project>' >VlrProDesc.xml
  printf '<SupportGen><General BaseType="2" MaxAngle="46" Density="5"/><AreaList><AreaSupport AreaType="0" AreaID="1" Density="5" NumTriangle="2" TriangleMeshIndexs="0;1" NumEdge="1" BoundaryEdgeIndexs="0"><ConeSupport ContactPoint="1;2;3" ContactNormal="0;0;-1"/></AreaSupport><AreaSupport AreaType="3" AreaID="2" TriangleID="1" SeedPoint="1;1;1"/></AreaList></SupportGen>' >Support/0.xml
  zip -q -X "$work/seeds/project/seed.vpf" VlrProDesc.xml ObjGeo/0.vsg Support/0.xml
)

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in stl_binary stl_ascii vgeo project; do
  mkdir -p "$work/corpus_$target"
  echo "fuzz_$target: ${seconds}s"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 "$work/corpus_$target" "$work/seeds/$target" 2>"$work/$target.log" || {
    tail -n 60 "$work/$target.log" >&2
    echo "fuzz_$target failed" >&2
    exit 1
  }
  grep -E '^stat::number_of_executed_units' "$work/$target.log" || true
done
