#include "MeshFixtures.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"

#include <gtest/gtest.h>

using namespace topolib;

TEST(TriangleEdgeSlots, emptySlotsTakeTheExistingEdgeOrANewOneOfTheMesh) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::cube(10.0));
    StlTriangle* t = mesh->triangle(0);
    ASSERT_NE(t->shell, nullptr);
    StlEdge* before[3] = {t->edges[0], t->edges[1], t->edges[2]};
    const uint32_t edgeCount = mesh->edgeCount();
    t->edges[0] = t->edges[2] = nullptr;
    t->ensureEdges();
    EXPECT_EQ(t->edges[0], before[0]);
    EXPECT_EQ(t->edges[1], before[1]);
    EXPECT_EQ(t->edges[2], before[2]);
    EXPECT_EQ(mesh->edgeCount(), edgeCount);

    // With the old edge detached, a new edge of the mesh takes the slot.
    t->edges[1] = nullptr;
    before[1]->edgeClass = kEdgeDetached;
    t->ensureEdges();
    ASSERT_NE(t->edges[1], nullptr);
    EXPECT_NE(t->edges[1], before[1]);
    EXPECT_EQ(mesh->edgeCount(), edgeCount + 1);
    EXPECT_EQ(mesh->edge(edgeCount), t->edges[1]);
    ASSERT_EQ(t->edges[1]->triangleCount(), 1u);
    EXPECT_EQ(t->edges[1]->triangle(0), t);
    EXPECT_EQ(t->edges[1]->vertex(0), t->vertices[1]);
    EXPECT_EQ(t->edges[1]->vertex(1), t->vertices[2]);
}
