// The undo history against a model of it: ten thousand random new commands
// (moves, rotations, scales, unloads, and commands that refuse or throw),
// undos and redos. After every step the scene must equal the snapshot the
// model expects, the stacks must have the model's sizes, and every command
// that left the history must have been deleted exactly once.
#include "SceneTestHost.h"

#include "topolib/Matrix4D.h"

#include <random>
#include <stdexcept>

namespace {

int g_liveProbes = 0;

// A command that changes nothing; it refuses, throws in execute, or throws in
// undo or redo as told.
class ProbeCmd : public AbtCommand {
public:
    enum Behaviour { Fine, Refuse, ThrowInExecute, ThrowInUndo, ThrowInRedo };
    explicit ProbeCmd(Behaviour b) : m_behaviour(b) { ++g_liveProbes; }
    ~ProbeCmd() override { --g_liveProbes; }
    bool execute() override {
        if (m_behaviour == ThrowInExecute)
            throw std::runtime_error("probe execute");
        return m_behaviour != Refuse;
    }
    void undo() override {
        if (m_behaviour == ThrowInUndo)
            throw std::runtime_error("probe undo");
    }
    void redo() override {
        if (m_behaviour == ThrowInRedo)
            throw 42; // not a standard exception
    }

private:
    Behaviour m_behaviour;
};

} // namespace

TEST_F(SceneTest, randomHistoryOfTenThousandStepsMatchesItsModel) {
    for (int i = 0; i < 4; ++i)
        addMesh(meshfixtures::cube(4.0 + i, {10.0 * i, 0.0, 0.0}));
    std::mt19937 rng(20261207);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };

    // The model: the scene as it must look at each position of the history.
    std::vector<Snapshot> undoModel = {snapshot()}; // back() = the current scene
    std::vector<Snapshot> redoModel;
    int expectedMessages = 0;
    const int probesBefore = g_liveProbes;
    int probesKept = 0; // probes on either stack
    std::vector<bool> undoIsProbe, redoIsProbe;
    int imports = 0, bakes = 0, maxObjects = 0;
    // The failure rule: one message, both stacks deleted, the scene as it is.
    auto historyDeleted = [&] {
        ++expectedMessages;
        probesKept = 0;
        undoModel = {snapshot()};
        redoModel.clear();
        undoIsProbe.clear();
        redoIsProbe.clear();
    };

    for (int step = 0; step < 10000; ++step) {
        // Random selection (not a command).
        for (ObjectEx* o : table()->objects())
            o->setSelected(rng() % 3 != 0);
        const int action = int(rng() % 20);
        AbtCommand* cmd = nullptr;
        ProbeCmd::Behaviour probe = ProbeCmd::Fine;
        bool isProbe = false;
        if (action < 5) {
            if (!commands()->undo()) {
                if (undoModel.size() > 1) // an exception in undo: the history is gone
                    historyDeleted();
            } else {
                redoModel.push_back(undoModel.back());
                undoModel.pop_back();
                redoIsProbe.push_back(undoIsProbe.back());
                undoIsProbe.pop_back();
            }
        } else if (action < 9) {
            if (!commands()->redo()) {
                if (!redoModel.empty())
                    historyDeleted();
            } else {
                undoModel.push_back(redoModel.back());
                redoModel.pop_back();
                undoIsProbe.push_back(redoIsProbe.back());
                redoIsProbe.pop_back();
            }
        } else {
            switch (action) {
            case 9:
            case 10: {
                const double d[3] = {uniform(-5, 5), uniform(-5, 5), uniform(-5, 5)};
                cmd = new TranslateCmd(TranslateCmd::ByOffset, d);
                break;
            }
            case 11:
                cmd = new TranslateCmd(rng() % 2 ? TranslateCmd::ToPlatformCenter : TranslateCmd::OntoPlatform,
                                       nullptr);
                break;
            case 12: {
                for (ObjectEx* o : table()->objects()) {
                    const double angle = uniform(-3.1, 3.1);
                    const double point[3] = {uniform(-20, 20), uniform(-20, 20), uniform(-20, 20)};
                    double axis[3] = {uniform(-1, 1), uniform(-1, 1), 1.0};
                    const double len = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + 1.0);
                    for (double& a : axis)
                        a /= len;
                    topolib::Matrix4D m;
                    topolib::makeAxisRotationMatrix(&angle, point, axis, m);
                    o->setTransform(m);
                }
                cmd = new RoateCmd();
                ++bakes;
                break;
            }
            case 13: {
                for (ObjectEx* o : table()->objects()) {
                    topolib::Matrix4D m;
                    for (int k = 0; k < 3; ++k)
                        m.at(k, k) = std::exp(uniform(-0.3, 0.3));
                    o->setTransform(m);
                }
                cmd = new RescaleCmd();
                break;
            }
            case 14:
                cmd = new UnloadObjectCmd(-1); // refused when nothing is selected
                break;
            case 15:
            case 16: {
                // A placed object entering as an import batch of its own.
                auto* obj = new ObjectEx();
                meshfixtures::fillMesh(*obj, meshfixtures::cube(uniform(2, 6), {uniform(-30, 30), uniform(-30, 30), 0}));
                table()->addObject(obj);
                cmd = new ImportObjectCmd({obj});
                ++imports;
                break;
            }
            default:
                isProbe = true;
                probe = ProbeCmd::Behaviour(rng() % 5);
                cmd = new ProbeCmd(probe);
                break;
            }
            const bool willThrow = isProbe && probe == ProbeCmd::ThrowInExecute;
            const bool pushed = sceneHost()->pushCommand(cmd, false);
            // Pending transforms not baked by the command stay pending; drop
            // them so that they cannot leak into a later bake.
            table()->resetPendingTransforms();
            if (willThrow) {
                ASSERT_FALSE(pushed);
                historyDeleted();
            } else if (pushed) {
                undoModel.push_back(snapshot());
                undoIsProbe.push_back(isProbe);
                for (bool p : redoIsProbe)
                    probesKept -= p ? 1 : 0;
                redoModel.clear();
                redoIsProbe.clear();
                probesKept += isProbe ? 1 : 0;
            }
        }
        ASSERT_EQ(commands()->undoCount() + 1, undoModel.size()) << "step " << step;
        ASSERT_EQ(commands()->redoCount(), redoModel.size()) << "step " << step;
        ASSERT_LE(difference(undoModel.back(), snapshot()), 1e-6) << "step " << step;
        ASSERT_EQ(host->messages.size(), expectedMessages) << "step " << step;
        ASSERT_EQ(g_liveProbes - probesBefore, probesKept) << "step " << step;
        maxObjects = std::max(maxObjects, table()->count());
    }
    // The run exercised what it claims to.
    EXPECT_GT(expectedMessages, 10);
    EXPECT_GT(imports, 500);
    EXPECT_GT(bakes, 300);
    EXPECT_GT(maxObjects, 4);
    std::printf("history: %d failures, %d imports, %d rotations, at most %d objects, %d at the end\n",
                expectedMessages, imports, bakes, maxObjects, table()->count());
}
