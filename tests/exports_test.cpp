// The production library as a host sees it: two plain names found with
// dlopen/dlsym, objects made and destroyed only through them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "test_support.h"

namespace {

using InitFn = IImageAIInference* (*)();
using ReleaseFn = void (*)(IImageAIInference*);

// The handle stays open for the whole run: objects made by the library must
// never outlive its code.
void* ProductionLibrary() {
    static void* handle = dlopen(TESSARINE_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

template <class Fn>
Fn Export(const char* name) {
    return reinterpret_cast<Fn>(dlsym(ProductionLibrary(), name));
}

std::string RealPath(const char* path) {
    char resolved[PATH_MAX];
    return realpath(path, resolved) ? resolved : path;
}

class ProductionExports : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(ProductionLibrary(), nullptr) << dlerror();
        ASSERT_NE(init_, nullptr);
        ASSERT_NE(release_, nullptr);
    }
    ObjectPtr New() { return ObjectPtr(init_(), release_); }

    InitFn init_ = Export<InitFn>("InitModule");
    ReleaseFn release_ = Export<ReleaseFn>("ReleaseModule");
};

// The test binary links the traced copy of the module, which defines the same
// two names: the host must get the library's own, not a namesake.
TEST_F(ProductionExports, ResolveInsideTheLibraryFile) {
    for (void* symbol : {reinterpret_cast<void*>(init_), reinterpret_cast<void*>(release_)}) {
        Dl_info info{};
        ASSERT_NE(dladdr(symbol, &info), 0);
        EXPECT_EQ(RealPath(info.dli_fname), RealPath(TESSARINE_MODULE_FILE));
    }
}

TEST_F(ProductionExports, ReleaseModuleIgnoresNull) { release_(nullptr); }

TEST_F(ProductionExports, ObjectLoadsAModelFromMemoryOnTheCpu) {
    ObjectPtr object = New();
    const std::vector<char> model = ReadModel("static_head");
    ASSERT_TRUE(object->LoadModel(model.data(), model.size(), -1, 3)) << object->GetLastErrorMessage();
    int64_t d[4] = {0, 0, 0, 0};
    EXPECT_EQ(object->GetInputShape(0, &d[0], &d[1], &d[2], &d[3], nullptr), 4u);
    EXPECT_EQ(std::vector<int64_t>(d, d + 4), (std::vector<int64_t>{1, 3, 224, 224}));
    EXPECT_EQ(object->GetOutputShape(0, &d[0], &d[1], nullptr, nullptr, nullptr), 2u);
    EXPECT_EQ(std::vector<int64_t>(d, d + 2), (std::vector<int64_t>{1, 10}));
}

// The object is the library's own class, built from the same declaration as
// the traced copy, so its core can be watched from here: when ReleaseModule
// really destroys the object, the last owner of the core goes with it.
TEST_F(ProductionExports, ReleaseModuleDestroysALoadedObject) {
    ObjectPtr object = New();
    const std::vector<char> model = ReadModel("dynamic_conv");
    ASSERT_TRUE(object->LoadModel(model.data(), model.size(), -1, 3));
    const std::weak_ptr<ov::Core> core = TessarineTestAccess::Core(*static_cast<Tessarine*>(object.get()));
    ASSERT_FALSE(core.expired());
    object.reset();
    EXPECT_TRUE(core.expired());
}

}  // namespace
