// Loading, creating, releasing and unloading the library many times in one
// process: no descriptor, thread or memory is left behind (the sanitizer
// build checks the memory).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "library.h"
#include "mirelo/vistel.h"
#include "platform/com/class_factory.h"
#include "platform/com/creation.h"
#include "test_support.h"
#include "tests/automation/vistel_fixture.h"

namespace mirelo {
namespace {

int threadCount() {
  int count = 0;
  std::error_code error;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/self/task", error))
    ++count;
  return count;
}

class UnloadTest : public ::testing::Test {
 protected:
  test::ScratchRegistry registry;
};

// One round as a host makes it by hand.
void createAndRelease(int round) {
  test::ServerLibrary library;
  ASSERT_TRUE(library.loaded());
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(library.getClassObject(CLASS_Vistel, IID_IClassFactory, factory.putVoid()), S_OK);
  ComPtr<IVistel4> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVistel4, object.putVoid()), S_OK);
  LONG count = 0;
  ASSERT_EQ(object->get_LDCount(&count), S_OK);
  ASSERT_EQ(count, 1) << round;
  ASSERT_EQ(library.canUnloadNow(), S_FALSE);
  object = nullptr;
  factory = nullptr;
  ASSERT_EQ(library.canUnloadNow(), S_OK);
}

TEST_F(UnloadTest, AThousandRoundsByHandLeaveNothingBehind) {
  createAndRelease(-1);  // the first use sets up what stays for the process
  int descriptors = test::openDescriptors();
  int threads = threadCount();
  auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < 1000; ++round) {
    createAndRelease(round);
    if (HasFatalFailure()) return;
  }
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(test::openDescriptors(), descriptors);
  EXPECT_EQ(threadCount(), threads);
  EXPECT_LT(seconds, 60.0);
  std::cout << "1000 rounds by hand: " << seconds << " s\n";
}

// Fewer rounds: each adds a watcher thread's start and end to the above.
TEST_F(UnloadTest, RoundsByIdentifierLeaveNothingBehind) {
  {
    test::ServerLibrary tool;
    ASSERT_EQ(tool.registerServer(), S_OK);
  }
  auto round = [] {
    ComPtr<IVistel4> object = createObject<IVistel4>(u"Addin.Vistel");
    LONG count = 0;
    ASSERT_EQ(object->get_LDCount(&count), S_OK);
    object = nullptr;
    CoFreeUnusedLibraries();
    ASSERT_TRUE(loadedServerLibraries().empty());
  };
  round();
  int descriptors = test::openDescriptors();
  int threads = threadCount();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) {
    round();
    if (HasFatalFailure()) return;
  }
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(test::openDescriptors(), descriptors);
  EXPECT_EQ(threadCount(), threads) << "every watcher thread ended with its library";
  std::cout << "200 rounds by identifier: " << seconds << " s\n";
}

// The library's copy of the platform keeps thread-local state (the thread's
// message loop, its error information), and the C library keeps a library
// mapped while such state waits for its thread's end. So the library really
// leaves memory once the threads that used it have ended: shown in a fresh
// process, where no other test has used it on the main thread.
TEST_F(UnloadTest, TheLibraryLeavesMemoryOnceItsThreadsHaveEnded) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::thread user([] { createAndRelease(0); });
        user.join();
        {
          test::ServerLibrary
              library;  // load and unload once more, from a thread that never used it
        }
        bool mapped = ::dlopen(test::libraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD) != nullptr;
        std::exit(mapped ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace mirelo
