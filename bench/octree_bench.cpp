// Octree build time and memory on a closed mesh of a million triangles (as the
// object builds it, and on one thread), the time of its copy for a copied mesh
// against the copy of the whole mesh, and the time of one ray pick through it.

#include "MeshFixtures.h"

#include "topolib/MeshOctree.h"
#include "topolib/StlObject.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace {

topolib::StlObject& millionTriangleTorus() {
    static std::unique_ptr<topolib::StlObject> mesh = [] {
        meshfixtures::BuildSteps steps;
        steps.shells = false;
        return meshfixtures::buildMesh(meshfixtures::torus(50.0, 15.0, 1000, 500), steps);
    }();
    return *mesh;
}

void BM_OctreeBuild(benchmark::State& state) {
    topolib::StlObject& mesh = millionTriangleTorus();
    for (auto _ : state)
        mesh.rebuildOctree();
    const topolib::MeshOctree* tree = mesh.octree();
    state.counters["triangles"] = mesh.triangleCount();
    state.counters["bytes_per_triangle"] = double(tree->memoryBytes()) / mesh.triangleCount();
    state.counters["nodes"] = double(tree->nodeCount());
}
// CPU: all the build's threads.
BENCHMARK(BM_OctreeBuild)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The same tree built on the calling thread alone (small meshes, one-core machines).
void BM_OctreeBuildOneThread(benchmark::State& state) {
    topolib::StlObject& mesh = millionTriangleTorus();
    if (!mesh.octree())
        mesh.rebuildOctree();
    for (auto _ : state) {
        topolib::MeshOctree tree;
        tree.build(mesh.octreeMinCell(), mesh.octreeOrigin(), mesh.octreeEdge(), mesh.vertices(), mesh.triangles(), 1);
        benchmark::DoNotOptimize(tree.nodeCount());
    }
}
BENCHMARK(BM_OctreeBuildOneThread)->Unit(benchmark::kMillisecond)->Iterations(3);

// The tree copied for a mesh copy (copyOctreeTo), and the whole mesh copy
// (records, edges and tree, copyMeshTo) that includes it.
void BM_OctreeCopy(benchmark::State& state) {
    topolib::StlObject& mesh = millionTriangleTorus();
    if (!mesh.octree())
        mesh.rebuildOctree();
    topolib::StlObject copy(mesh);
    mesh.copyMeshTo(&copy);
    for (auto _ : state) {
        copy.releaseOctree();
        mesh.copyOctreeTo(&copy);
        benchmark::DoNotOptimize(copy.octree());
    }
}
BENCHMARK(BM_OctreeCopy)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_MeshCopyWithOctree(benchmark::State& state) {
    topolib::StlObject& mesh = millionTriangleTorus();
    if (!mesh.octree())
        mesh.rebuildOctree();
    for (auto _ : state) {
        topolib::StlObject copy(mesh);
        mesh.copyMeshTo(&copy);
        benchmark::DoNotOptimize(copy.octree());
    }
}
BENCHMARK(BM_MeshCopyWithOctree)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_OctreeRayPick(benchmark::State& state) {
    topolib::StlObject& mesh = millionTriangleTorus();
    if (!mesh.octree())
        mesh.rebuildOctree();
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-70.0, 70.0);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    long hits = 0;
    for (auto _ : state) {
        double q[3] = {u(rng), u(rng), u(rng)};
        double d[3] = {unit(rng), unit(rng), unit(rng)};
        double hit[3];
        hits += mesh.pickTriangle(q, d, hit) != nullptr;
    }
    state.counters["hit_rate"] = double(hits) / double(state.iterations());
}
BENCHMARK(BM_OctreeRayPick)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
