// A model wound inside out is turned outward when its supports are first
// generated: it gets the supports of the outward model and its user is told
// once.
#include "SceneTestHost.h"

#include "support/ConeShape.h"
#include "support/SupportGen.h"

#include <vector>

namespace {

std::vector<std::array<double, 3>> liveContacts(ObjectEx* obj) {
    std::vector<std::array<double, 3>> out;
    const auto gen = obj->supportGenIfAny();
    for (std::size_t i = 0; gen && i < gen->areaCount(); ++i)
        for (const support::AbtShape* s : gen->areaAt(i)->shapes)
            if (const support::ConeShape* c = s->asCone(); c != nullptr && !c->isDeleted())
                out.push_back({c->ContactPoint.x, c->ContactPoint.y, c->ContactPoint.z});
    return out;
}

} // namespace

TEST_F(SceneTest, insideOutModelIsTurnedOutwardBeforeItsSupportsAndTheUserIsToldOnce) {
    const meshfixtures::TriangleSoup ball = meshfixtures::uvSphere(8.0, 24, 12, {0.0, 0.0, 13.0});
    ObjectEx* outward = addMesh(ball);
    ObjectEx* insideOut = addMesh(meshfixtures::flipped(ball));
    for (ObjectEx* o : {outward, insideOut})
        o->rebuildOctree();
    ASSERT_LT(insideOut->volume(), 0.0);

    ASSERT_TRUE(outward->generateSupport());
    EXPECT_TRUE(host->messages.isEmpty());
    ASSERT_TRUE(insideOut->generateSupport());
    ASSERT_EQ(host->messages.size(), 1);
    EXPECT_TRUE(host->messages.front().contains(QStringLiteral("inside out")));
    EXPECT_GT(insideOut->volume(), 0.0);
    EXPECT_EQ(liveContacts(insideOut), liveContacts(outward));

    // Supports made again from scratch: nothing is left to turn.
    insideOut->deleteSupport();
    ASSERT_TRUE(insideOut->generateSupport());
    EXPECT_EQ(host->messages.size(), 1);
    EXPECT_EQ(liveContacts(insideOut), liveContacts(outward));
}

// A model above the platform that no cone can hold (an up-facing plate, a lone
// triangle standing upright) is reported, not left floating silently; a
// model on the platform or one that got cones is not.
TEST_F(SceneTest, aFloatingModelThatGetsNoSupportIsReported) {
    using P = meshfixtures::Point;
    const meshfixtures::TriangleSoup plateUp = {{{P{0, 0, 10}, P{20, 0, 10}, P{20, 20, 10}}},
                                                {{P{0, 0, 10}, P{20, 20, 10}, P{0, 20, 10}}}};
    const meshfixtures::TriangleSoup upright = {{{P{0, 0, 10}, P{10, 0, 10}, P{0, 0, 20}}}};
    const meshfixtures::TriangleSoup plateDown = {{{P{0, 0, 10}, P{20, 20, 10}, P{20, 0, 10}}},
                                                  {{P{0, 0, 10}, P{0, 20, 10}, P{20, 20, 10}}}};
    struct Case {
        meshfixtures::TriangleSoup soup;
        bool told;
    };
    const Case cases[] = {{plateUp, true}, {upright, true}, {plateDown, false}, {meshfixtures::cube(10.0), false}};
    for (const Case& c : cases) {
        host->messages.clear();
        ObjectEx* o = addMesh(c.soup);
        o->rebuildOctree();
        ASSERT_TRUE(o->generateSupport());
        // An open surface is told as well, before the work.
        const QStringList floating = host->messages.filter(QStringLiteral("floats"));
        EXPECT_EQ(floating.size(), c.told ? 1 : 0);
        if (c.told && !floating.isEmpty()) {
            EXPECT_TRUE(floating.front().contains(QStringLiteral("floats 10.00 mm above the platform")))
                << floating.front().toStdString();
        }
    }
}

// A model whose surface is open is told so before its supports are computed,
// through the route every scene message takes; a closed one is not.
TEST_F(SceneTest, anOpenModelIsToldBeforeItsSupportsAreComputed) {
    // The host notes, with each message, whether the object had supports yet.
    struct NotingHost : RecordingSceneHost {
        int showMessage(const QString& text, int icon, int buttons, int defaultButton) override {
            const auto gen = watched != nullptr ? watched->supportGenIfAny() : nullptr;
            hadSupports.push_back(gen != nullptr && gen->areaCount() > 0);
            icons.push_back(icon);
            return RecordingSceneHost::showMessage(text, icon, buttons, defaultButton);
        }
        ObjectEx* watched = nullptr;
        std::vector<bool> hadSupports;
        std::vector<int> icons;
    };
    auto* noting = new NotingHost();
    setSceneHost(noting);
    delete host;
    host = noting;
    ObjectEx* open = addMesh(meshfixtures::openBox(10.0, {0.0, 0.0, 5.0}));
    ObjectEx* closed = addMesh(meshfixtures::cube(10.0, {20.0, 0.0, 5.0}));
    for (ObjectEx* o : {open, closed})
        o->rebuildOctree();
    noting->watched = open;
    ASSERT_TRUE(open->generateSupport());
    ASSERT_EQ(host->messages.size(), 1);
    EXPECT_TRUE(host->messages.front().contains(QStringLiteral("not closed: 4 of its edges are open")))
        << host->messages.front().toStdString();
    EXPECT_EQ(noting->icons.front(), int(SceneMessage::Information));
    EXPECT_FALSE(noting->hadSupports.front());
    EXPECT_GT(open->supportGenIfAny()->areaCount(), 0u);
    noting->watched = closed;
    ASSERT_TRUE(closed->generateSupport());
    EXPECT_EQ(host->messages.size(), 1);
}
