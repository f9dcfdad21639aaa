// The isolated module against what the module itself cannot survive: models
// that crash the runtime at load, read or write far outside their tensors,
// or never finish, and a worker killed from outside. Each costs one call:
// false, a text that says what happened, the call's one console line, the
// host's buffers untouched beyond what the call may write, and the same
// object loads and runs a good model next. Then the worker's confinement,
// probed from inside a test build of the worker.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "isolated/isolated_tessarine.h"
#include "test_support.h"

namespace {

std::vector<std::string> HostileModelFiles(const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* folder = opendir(TESSARINE_HOSTILE_MODEL_DIR)) {
        while (const dirent* entry = readdir(folder))
            if (std::string(entry->d_name).rfind(prefix, 0) == 0) names.push_back(entry->d_name);
        closedir(folder);
    }
    return names;
}

class HostileModels : public ::testing::Test {
protected:
    // The good model on the same object, after whatever came before.
    void ExpectGoodModelRuns() {
        ASSERT_TRUE(object_->LoadModel(good_.data(), good_.size(), -1, 3)) << object_->GetLastErrorMessage();
        std::vector<float> image = Image(6, 5), map(2 * 6 * 5);
        const auto desc = Descriptor(2);
        ASSERT_TRUE(object_->DoInference(6, 5, image.data(), desc.data(), 6, 5, map.data()))
            << object_->GetLastErrorMessage();
        EXPECT_EQ(map, DynamicConvMap(image));
    }
    // The tensors form on x [1, 4] into y [1, 4], both between guards.
    Outcome RunWithGuards() {
        values_ = {kGuard, 1, 2, 3, 4, kGuard, kGuard, -1, -1, -1, -1, kGuard};
        std::vector<TensorData> outputs = {Record("y", {1, 4}, &values_[7])};
        return Capture(*object_, [&] { return object_->DoInference({Record("x", {1, 4}, &values_[1])}, outputs); });
    }
    void ExpectHostBuffersUntouched() {
        EXPECT_EQ(values_, (std::vector<float>{kGuard, 1, 2, 3, 4, kGuard, kGuard, -1, -1, -1, -1, kGuard}));
    }

    static constexpr float kGuard = -12345.0f;
    std::vector<float> values_;
    std::vector<char> good_ = ReadModel("dynamic_conv");
    ObjectPtr object_ = NewHostObject(TESSARINE_ISOLATED_MODULE_FILE);
};

// Most of these read past a node's inputs or outputs, which is undefined: a
// read of garbage may as well end in the runtime's own exception (a
// std::bad_alloc for a size read from past the end) as in a signal. Either
// way the call fails with its line and the object goes on; at least one
// model must really have ended its worker.
TEST_F(HostileModels, LoadsThatCrashTheRuntimeCostOneCall) {
    ASSERT_GE(HostileModelFiles("load_crash_").size(), 5u);
    size_t workers_ended = 0;
    for (const std::string& name : HostileModelFiles("load_crash_")) {
        SCOPED_TRACE(name);
        const std::vector<char> model = ReadFileBytes(std::string(TESSARINE_HOSTILE_MODEL_DIR "/") + name);
        const Outcome load = Capture(*object_, [&] { return object_->LoadModel(model.data(), model.size(), -1, 3); });
        EXPECT_FALSE(load.ok);
        const bool ended = load.error.rfind("the worker process ended with signal ", 0) == 0;
        workers_ended += ended;
        const std::string kind = ended || load.console.find("ov::Exception") == std::string::npos ? "std::exception"
                                                                                                   : "ov::Exception";
        EXPECT_EQ(load.console, "[OpenVINOInstance]Load model " + kind + " error: " + load.error);
        ExpectGoodModelRuns();
    }
    EXPECT_GE(workers_ended, 1u);
}

TEST_F(HostileModels, RunsThatReadOrWriteFarCostOneCall) {
    ASSERT_GE(HostileModelFiles("run_reads_").size() + HostileModelFiles("run_writes_").size(), 3u);
    for (const std::string& prefix : {"run_reads_", "run_writes_"})
        for (const std::string& name : HostileModelFiles(prefix)) {
            SCOPED_TRACE(name);
            const std::vector<char> model = ReadFileBytes(std::string(TESSARINE_HOSTILE_MODEL_DIR "/") + name);
            ASSERT_TRUE(object_->LoadModel(model.data(), model.size(), -1, 3)) << object_->GetLastErrorMessage();
            const Outcome run = RunWithGuards();
            EXPECT_FALSE(run.ok);
            EXPECT_EQ(run.error.rfind("the worker process ended with signal ", 0), 0u) << run.error;
            EXPECT_EQ(run.console, "[OpenVINOInstance]DoInference error: " + run.error);
            ExpectHostBuffersUntouched();
            int64_t d0 = 0, d1 = 0;
            EXPECT_EQ(object_->GetInputShape(0, &d0, &d1, nullptr, nullptr, nullptr), 2u);
            EXPECT_TRUE(d0 == 1);
            EXPECT_TRUE(d1 == 4);
            ExpectGoodModelRuns();
        }
}

// With no limit set a call waits for as long as the worker works; a host
// that sets one gets the call back, and the worker is ended.
TEST_F(HostileModels, ARunPastTheHostsLimitIsEnded) {
    const std::vector<char> model = ReadFileBytes(TESSARINE_HOSTILE_MODEL_DIR "/run_hangs_loop.onnx");
    ASSERT_TRUE(object_->LoadModel(model.data(), model.size(), -1, 3)) << object_->GetLastErrorMessage();
    setenv("TESSARINE_WORKER_TIMEOUT_MS", "300", 1);
    const Outcome run = RunWithGuards();
    unsetenv("TESSARINE_WORKER_TIMEOUT_MS");
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error, "the worker process did not answer within 300 ms (TESSARINE_WORKER_TIMEOUT_MS) and was ended.");
    EXPECT_EQ(run.console, "[OpenVINOInstance]DoInference error: " + run.error);
    ExpectHostBuffersUntouched();
    ExpectGoodModelRuns();
}

// The kernel's out-of-memory killer, or anyone else, may end a worker
// between two calls; the next call says so, and the one after starts anew.
TEST_F(HostileModels, AWorkerKilledBetweenCallsCostsTheNextCall) {
    ExpectGoodModelRuns();
    std::string children;
    std::getline(std::ifstream("/proc/self/task/" + std::to_string(getpid()) + "/children"), children);
    ASSERT_FALSE(children.empty());
    ASSERT_EQ(kill(std::stoi(children), SIGKILL), 0);
    std::vector<float> image = Image(6, 5), map(2 * 6 * 5);
    const auto desc = Descriptor(2);
    const Outcome run =
        Capture(*object_, [&] { return object_->DoInference(6, 5, image.data(), desc.data(), 6, 5, map.data()); });
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error, "the worker process ended with signal 9 (SIGKILL).");
    EXPECT_EQ(run.console, "[OpenVINOInstance]DoInference error: " + run.error);
    ExpectGoodModelRuns();
}

// A reply out of turn ends the worker and fails the call; a worker missing
// from beside the library fails each call that needs one.
TEST_F(HostileModels, AWorkerThatBreaksTheProtocolOrIsMissingCostsTheCall) {
    IsolatedTessarine probing(TESSARINE_PROBING_WORKER_FILE), missing(TESSARINE_PROBING_WORKER_FILE "-missing");
    for (IsolatedTessarine* object : {&probing, &missing}) {
        std::string reply;
        wire::Writer request;
        request.PutString("break");
        if (object == &probing) ASSERT_EQ(probing.Link().Call(wire::Kind::kProbe, request.bytes, reply), "");
        const Outcome load = Capture(*object, [&] { return object->LoadModel(good_.data(), good_.size(), -1, 3); });
        EXPECT_FALSE(load.ok);
        EXPECT_EQ(load.error, object == &probing
                                  ? "the worker process broke the protocol (a reply of another kind) and was ended."
                                  : "the worker process " TESSARINE_PROBING_WORKER_FILE
                                    "-missing could not be started: No such file or directory.");
        EXPECT_EQ(load.console, "[OpenVINOInstance]Load model std::exception error: " + load.error);
    }
    ASSERT_TRUE(probing.LoadModel(good_.data(), good_.size(), -1, 3)) << probing.GetLastErrorMessage();
}

// Replies a worker gone astray might send, each read as the reply to a call
// of its kind: the call fails as the protocol breaks, and nothing the reply
// names is touched.
// A successful reply's common part up to its shapes, and with no shapes.
std::string Opening(uint64_t lines = 0) {
    wire::Writer part;
    part.Put<uint8_t>(1);
    part.Put<uint64_t>(lines);
    part.PutString("");
    part.Put<uint8_t>(1);
    return part.bytes;
}
const std::string CommonPart = Opening() + std::string(16, '\0');
template <class... Fields>
std::string With(std::string bytes, Fields... fields) {
    wire::Writer rest;
    (rest.Put(fields), ...);
    return bytes + rest.bytes;
}
struct AstrayReply {
    wire::Kind kind;
    std::string payload, what;
};
const AstrayReply kAstrayReplies[] = {
    {wire::Kind::kLoad, "", "a field runs past the message"},
    {wire::Kind::kLoad, Opening(uint64_t{1} << 60), "a count runs past the message"},
    {wire::Kind::kLoad, With(Opening(), uint64_t{1}, uint64_t{1} << 61), "a dims list runs past the message"},
    {wire::Kind::kDetect, With(CommonPart, uint64_t{1} << 40, uint64_t{1}, uint64_t{84}),
     "a detect result larger than the head"},
    {wire::Kind::kTensors, With(CommonPart, uint64_t{1} << 41), "runtime outputs larger than any this side maps"},
    {wire::Kind::kTensors, With(CommonPart, uint64_t{64}, uint64_t{2}), "another number of output records"},
    {wire::Kind::kTensors,
     With(CommonPart, uint64_t{64}, uint64_t{1}, uint8_t{1}, uint64_t{0}, uint64_t{4}, uint8_t{1}, uint64_t{1} << 30,
          uint64_t{0}),
     "an output outside the memory it may name"},
    {wire::Kind::kTensors,
     With(CommonPart, uint64_t{64}, uint64_t{1}, uint8_t{1}, uint64_t{0}, uint64_t{4}, uint8_t{2}, uint64_t{0},
          uint64_t{4}),
     "an output outside the memory it may name"},
};

TEST(IsolatedObjects, RepliesOfAWorkerGoneAstrayCostTheCall) {
    IsolatedTessarine object(TESSARINE_PROBING_WORKER_FILE);
    const std::vector<char> model = ReadModel("two_inputs");
    float a[4] = {1, 2, 3, 4}, image[3 * 8 * 8] = {}, head[84 * 3];
    uint64_t count = 7, dim2 = 7, dim1 = 7;
    for (const AstrayReply& astray : kAstrayReplies) {
        SCOPED_TRACE(astray.what);
        wire::Writer probe;
        probe.PutString("send");
        probe.Put(static_cast<uint32_t>(astray.kind));
        probe.PutString(astray.payload);
        std::string reply;
        ASSERT_EQ(object.Link().Call(wire::Kind::kProbe, probe.bytes, reply), "");
        std::vector<TensorData> outputs = {Record("sum", {1, -1}, nullptr)};
        const Outcome call = Capture(object, [&] {
            if (astray.kind == wire::Kind::kLoad) return object.LoadModel(model.data(), model.size(), -1, 3);
            if (astray.kind == wire::Kind::kDetect)
                return object.DoInference(8, 8, image, head, &count, &dim2, &dim1);
            return object.DoInference({Record("a", {1, 4}, a)}, outputs);
        });
        EXPECT_FALSE(call.ok);
        EXPECT_EQ(call.error, "the worker process broke the protocol (" + astray.what + ") and was ended.");
        EXPECT_EQ(call.console.rfind("[OpenVINOInstance]", 0), 0u);
        EXPECT_TRUE(count == 7);
        EXPECT_TRUE(dim2 == 7);
        EXPECT_TRUE(dim1 == 7);
        EXPECT_TRUE(outputs[0].data == nullptr);
    }
}

size_t Entries(const std::string& folder) {
    size_t count = 0;
    if (DIR* listing = opendir(folder.c_str())) {
        while (readdir(listing)) ++count;
        closedir(listing);
    }
    return count;
}

// Objects come and go, workers with them, ended or crashed: no process, no
// open descriptor and no mapping of theirs stays with the host.
TEST(IsolatedObjects, LeaveNoProcessOrDescriptorBehind) {
    const std::string children = "/proc/self/task/" + std::to_string(getpid()) + "/children";
    const size_t descriptors = Entries("/proc/self/fd");
    const std::vector<char> good = ReadModel("dynamic_conv"),
                            crash = ReadFileBytes(TESSARINE_HOSTILE_MODEL_DIR "/load_crash_identity_of_two_inputs.onnx");
    for (int round = 0; round < 3; ++round) {
        ObjectPtr objects[2] = {NewHostObject(TESSARINE_ISOLATED_MODULE_FILE), NewHostObject(TESSARINE_ISOLATED_MODULE_FILE)};
        for (ObjectPtr& object : objects) {
            StdoutCapture quiet;
            ASSERT_TRUE(object->LoadModel(good.data(), good.size(), -1, 3));
            ASSERT_FALSE(object->LoadModel(crash.data(), crash.size(), -1, 3));
            ASSERT_TRUE(object->LoadModel(good.data(), good.size(), -1, 3));
        }
    }
    std::string left;
    std::getline(std::ifstream(children), left);
    EXPECT_EQ(left, "") << "worker processes left running or unreaped";
    EXPECT_EQ(Entries("/proc/self/fd"), descriptors);
}

// What a worker that some model had taken over could still do. Each attempt
// reports its errno, 0 for success; the readable file shows that the probe
// itself works.
TEST(WorkerConfinement, TheWorkerWritesConnectsStartsForksAndSignalsNothing) {
    IsolatedTessarine object(TESSARINE_PROBING_WORKER_FILE);
    const std::vector<char> good = ReadModel("dynamic_conv");
    ASSERT_TRUE(object.LoadModel(good.data(), good.size(), -1, 3)) << object.GetLastErrorMessage();
    const std::string written = testing::TempDir() + "tessarine-probe-" + std::to_string(getpid());
    const std::string outside = written + "-outside";
    std::ofstream(outside) << "the host's";
    wire::Writer request;
    request.PutString(written);
    const std::string reads[] = {outside, "/proc/" + std::to_string(getpid()) + "/cmdline", TESSARINE_PROBING_WORKER_FILE,
                                 "/proc/self/status"};
    request.Put<uint64_t>(std::size(reads));
    for (const std::string& path : reads) request.PutString(path);
    std::string reply;
    ASSERT_EQ(object.Link().Call(wire::Kind::kProbe, request.bytes, reply), "");
    std::remove(outside.c_str());
    wire::Reader result(reply);
    EXPECT_TRUE(result.Get<uint8_t>()) << "no_new_privs";
    const int32_t landlock_abi = result.Get<int32_t>();
    EXPECT_TRUE(result.Get<uint8_t>()) << "seccomp";
    EXPECT_EQ(result.Get<int32_t>(), EACCES) << "open for writing";
    const int32_t read_outside = result.Get<int32_t>(), read_hosts_entry = result.Get<int32_t>();
    EXPECT_EQ(result.Get<int32_t>(), 0) << "reading its own executable";
    EXPECT_EQ(result.Get<int32_t>(), 0) << "reading its own /proc entry";
    EXPECT_EQ(result.Get<int32_t>(), EACCES) << "connect";
    EXPECT_EQ(result.Get<int32_t>(), EACCES) << "starting a program";
    EXPECT_EQ(result.Get<int32_t>(), EACCES) << "forking";
    EXPECT_EQ(result.Get<int32_t>(), EACCES) << "signalling the host";
    EXPECT_EQ(access(written.c_str(), F_OK), -1);
    if (landlock_abi == 0) GTEST_SKIP() << "this kernel has no Landlock: files outside the runtime stay readable";
    EXPECT_EQ(read_outside, EACCES) << "reading a file of the host's";
    EXPECT_EQ(read_hosts_entry, EACCES) << "reading the host's /proc entry";
}

}  // namespace
