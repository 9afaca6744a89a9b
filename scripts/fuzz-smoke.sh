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
cmake --build "$build" --target fuzz_stl_binary fuzz_stl_ascii fuzz_vgeo fuzz_project fuzz_descriptor \
  fuzz_support_entry fuzz_seeds

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
  # Cones as this version stores them: placed, linked, one carrying two bars
  # (the second deleted).
  cp Support/0.xml plain.xml
  printf '<SupportGen><General BaseType="1" MaxAngle="46" Density="5"/><AreaList><AreaSupport AreaType="0" AreaID="0" Density="5" NumTriangle="2" TriangleMeshIndexs="0;1" NumEdge="0"><ConeSupport ContactPoint="1;1;12" ContactNormal="0;0;-1" DeletedBars="1" TipCentre="1;1;11.75" HeadEnd="1;1;9.5" TrunkFoot="1;1;0" FootTipCentre="0;0;0" FootPoint="1;1;0" FootNormal="0;0;1" FootZ="-1" Links="1" LinkCarriers="1" BarCounts="2" Bars="1;1;2.5;6;1;7.5;1;1;7.5;6;1;12.5"/><ConeSupport ContactPoint="6;1;12" ContactNormal="0;0;-1" TipCentre="6;1;11.75" HeadEnd="6;1;9.5" TrunkFoot="6;1;0" FootTipCentre="0;0;0" FootPoint="6;1;0" FootNormal="0;0;1" FootZ="-1" Links="0" LinkCarriers="0" BarCounts="0"/></AreaSupport></AreaList></SupportGen>' >Support/0.xml
  zip -q -X "$work/seeds/project/stored.vpf" VlrProDesc.xml ObjGeo/0.vsg Support/0.xml
  # The entries on their own for the XML readers, with one more of each that
  # holds every kind of record.
  mkdir -p "$work/seeds/descriptor" "$work/seeds/support_entry"
  cp VlrProDesc.xml "$work/seeds/descriptor/1.xml"
  cp plain.xml "$work/seeds/support_entry/1.xml"
  cp Support/0.xml "$work/seeds/support_entry/3.xml"
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<Project>\n <Header><DocName>Velar Project Description</DocName><DocVersion>1.0</DocVersion></Header>\n <Application Name="Velar3D" Version="1.0.0.0"/>\n <General><ViewPort RenderScale="1.5" ModelViewMatrix="0.7;0;0.7;0;0;1;0;0;-0.7;0;0.7;0;1e-05;-20;-300;1" LastPosX="-3" LastPosY="12" RenderCenter="60;60;1.23457e+06"/></General>\n <Objects TotalObjectNo="2">\n  <Object Type="0" Name="part &amp; base" ID="0" ViewMode="1" Transparency="true" Selected="false" Visible="true" Pointed="0" Locked="1" TransparentValue="0.35" ShadeColor="#a0b0c0" NumberTriangles="12"/>\n  <Object Type="0" Name="b" ID="1" ViewMode="2" Transparency="false" Selected="true" Visible="true" Pointed="false" Locked="false" TransparentValue="1" ShadeColor="#ffffff" NumberTriangles="4"/>\n </Objects>\n</Project>\n' >"$work/seeds/descriptor/2.xml"
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<SupportGen>\n <Header SupportVersion="1"/>\n <General BaseType="1" RemoveExternal="true" MaxAngle="50" Density="7.5"/>\n <AreaList NumberArea="4">\n  <AreaSupport AreaType="0" AreaID="1" Density="5" NumTriangle="3" TriangleMeshIndexs="0;1;2" NumEdge="2" BoundaryEdgeIndexs="0;1" NumConeShape="2">\n   <ConeSupport ConeID="1" ConeSupportType="0" GenerateBase="true" ContactRadius="0.25" BeamRadius="0.6" BottomRadius="1" BaseThickness="1" BaseSize="4" HeadExtend="2.5" ContactPoint="1.5;2.25;3" ContactNormal="0;0;-1"/>\n   <ConeSupport ConeID="2" ConeSupportType="1" GenerateBase="false" ContactRadius="0.5" BeamRadius="0.6" BottomRadius="1" BaseThickness="1" BaseSize="4" HeadExtend="2.5" ContactPoint="4;5;6" ContactNormal="0.6;0;-0.8"/>\n  </AreaSupport>\n  <AreaSupport AreaType="1" AreaID="2" VertexID="7" NumConeShape="1"/>\n  <AreaSupport AreaType="2" AreaID="3" Density="4" NumVertex="3" VertexIndexs="1;2;3" NumConeShape="0"/>\n  <AreaSupport AreaType="3" AreaID="4" TriangleID="9" SeedPoint="1;1;1" NumConeShape="1">\n   <ConeSupport ConeID="3" ContactPoint="1;1;1"/>\n  </AreaSupport>\n </AreaList>\n</SupportGen>\n' >"$work/seeds/support_entry/2.xml"
)

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in stl_binary stl_ascii vgeo project descriptor support_entry; do
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
