// The built driver library, met the way an ASIO host meets it: copied into a
// directory of its own beside the control panel, loaded by its full path,
// asked for its class factory, made to create the driver with the class id as
// interface id, and then called only through the table of slots.
//
// Built for all three targets (the native build loads libTAVRODriver.so).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "asio/asio.h"
#include "com/class_id.h"
#include "com/com_types.h"
#include "platform/sync.h"
#include "support/module_loader.h"
#include "support/notification_spy.h"
#include "support/temp_dir.h"
#include "support/vtable_call.h"

namespace tavro::testing {
namespace {

using com::Guid;
using com::HResult;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using GetClassObjectFunction = HResult(TAVRO_STDCALL*)(const Guid*, const Guid*, void**);
using CanUnloadNowFunction = HResult(TAVRO_STDCALL*)();

// IASIO slots, in the order hosts compiled against the published interface
// call them. Written out again here on purpose, not taken from our header.
enum Slot : size_t {
  kQueryInterface = 0,
  kAddRef = 1,
  kRelease = 2,
  kInit = 3,
  kGetDriverName = 4,
  kGetDriverVersion = 5,
  kGetErrorMessage = 6,
  kGetChannels = 9,
  kGetLatencies = 10,
  kGetBufferSize = 11,
  kCanSampleRate = 12,
  kGetSampleRate = 13,
  kSetSampleRate = 14,
  kGetClockSources = 15,
  kSetClockSource = 16,
  kGetSamplePosition = 17,
  kGetChannelInfo = 18,
  kCreateBuffers = 19,
  kDisposeBuffers = 20,
  kControlPanel = 21,
  kFuture = 22,
  kOutputReady = 23,
};
// IClassFactory after the three IUnknown slots.
constexpr size_t kCreateInstance = 3;
constexpr size_t kLockServer = 4;

constexpr char kPanelFileName[] = "TAVROSettings.exe";
constexpr char kPanelMutexName[] = "TAVROStreamer Control Panel";
constexpr auto kPanelStartLimit = std::chrono::seconds(20);
// Time a panel started by mistake would have to show up in the log.
constexpr auto kPanelGrace = std::chrono::milliseconds(1500);

// The texts a failed init may leave, each with the notifications it posts:
// with no streamer settings at all (a clean test registry) it is the first.
struct InitFailure {
  const char* text;
  std::vector<uintptr_t> codes;
};
const InitFailure kInitFailures[] = {
    {"TAVROdriver open failure!", {}},
    {"TAVRODriver Host not set!", {}},
    {"Unable to create socket!", {}},
    {"Unable to connect to TAVROStreamer: Is server running?", {20}},
};

class DllActivationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path driverCopy = dir / TAVRO_DRIVER_FILE_NAME;
    std::filesystem::copy_file(TAVRO_DRIVER_PATH, driverCopy);
    std::filesystem::copy_file(TAVRO_FAKE_PANEL_PATH, dir / kPanelFileName);
    panelLog = dir / "panel.log";
    setEnv("TAVRO_FAKE_PANEL_LOG", panelLog.string());
#if !defined(_WIN32)
    // An empty settings store: the driver finds no streamer to connect to.
    setEnv("TAVRO_REGISTRY_DIR", (dir / "registry").string());
#endif
    module.emplace(driverCopy);
    ASSERT_TRUE(module->loaded()) << driverCopy << ": " << module->error();
    getClassObject = module->function<GetClassObjectFunction>("DllGetClassObject");
    canUnloadNow = module->function<CanUnloadNowFunction>("DllCanUnloadNow");
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
  }

  void TearDown() override {
    if (canUnloadNow != nullptr) {
      EXPECT_EQ(canUnloadNow(), com::kSOk) << "an object or lock outlived the test";
    }
    module.reset();
    unsetEnv("TAVRO_FAKE_PANEL_LOG");
#if !defined(_WIN32)
    unsetEnv("TAVRO_REGISTRY_DIR");
#endif
    // A panel that has just written its line may still be running from the
    // directory; give it a moment so that the directory goes with the test.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::error_code busy;
    while (!std::filesystem::remove(dir / kPanelFileName, busy) && busy &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  void* factory() {
    void* out = nullptr;
    EXPECT_EQ(getClassObject(&com::kClsidTavroDriver, &com::kIidIClassFactory, &out), com::kSOk);
    return out;
  }

  // As a host does: the class id doubles as the interface id.
  void* createDriver() {
    void* classFactory = factory();
    if (classFactory == nullptr) return nullptr;
    void* driver = nullptr;
    const auto created =
        callSlot<HResult>(SlotKind::kCom, classFactory, kCreateInstance,
                          static_cast<void*>(nullptr), &com::kClsidTavroDriver, &driver);
    EXPECT_EQ(created.value, com::kSOk);
    EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, classFactory, kRelease).value, 0u);
    return driver;
  }

  std::string errorMessage(void* driver) {
    char text[128];
    std::memset(text, 'x', sizeof text);
    callSlot<void>(SlotKind::kMember, driver, kGetErrorMessage, text);
    text[sizeof text - 1] = '\0';
    return text;
  }

  // The panel runs on its own: poll its log for a bounded time.
  std::vector<std::string> panelStartsWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (readLines(panelLog).empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return readLines(panelLog);
  }

  TempDir dir;
  std::filesystem::path panelLog;
  std::optional<LoadedModule> module;
  GetClassObjectFunction getClassObject = nullptr;
  CanUnloadNowFunction canUnloadNow = nullptr;
};

TEST_F(DllActivationTest, EverySlotSitsWhereHostsCallItAndPopsWhatItWasGiven) {
  void* driver = createDriver();
  ASSERT_NE(driver, nullptr);

  // 0-2: IUnknown. The driver answers for its class id with itself.
  void* again = nullptr;
  const auto query =
      callSlot<HResult>(SlotKind::kCom, driver, kQueryInterface, &com::kClsidTavroDriver, &again);
  EXPECT_EQ(query.value, com::kSOk);
  EXPECT_EQ(query.stackDrift, 0);
  EXPECT_EQ(again, driver);
  const auto addRef = callSlot<uint32_t>(SlotKind::kCom, driver, kAddRef);
  EXPECT_EQ(addRef.value, 3u);
  EXPECT_EQ(addRef.stackDrift, 0);
  for (uint32_t expected : {2u, 1u}) {
    const auto release = callSlot<uint32_t>(SlotKind::kCom, driver, kRelease);
    EXPECT_EQ(release.value, expected);
    EXPECT_EQ(release.stackDrift, 0);
  }

  // 4-6: name, version, error text. The name is written with its NUL and not
  // a byte more.
  char name[32];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(callSlot<void>(SlotKind::kMember, driver, kGetDriverName, name).stackDrift, 0);
  EXPECT_STREQ(name, "TAVRODriver");
  EXPECT_EQ(name[12], 'x');
  const auto version = callSlot<int32_t>(SlotKind::kMember, driver, kGetDriverVersion);
  EXPECT_EQ(version.value, 96);
  EXPECT_EQ(version.stackDrift, 0);
  EXPECT_EQ(errorMessage(driver), "");

  // 9-11: two outputs, no inputs, fixed latencies, one buffer size.
  int32_t inputs = -1, outputs = -1;
  const auto channels =
      callSlot<int32_t>(SlotKind::kMember, driver, kGetChannels, &inputs, &outputs);
  EXPECT_EQ(channels.value, asio::kAseOk);
  EXPECT_EQ(channels.stackDrift, 0);
  EXPECT_EQ(inputs, 0);
  EXPECT_EQ(outputs, 2);
  int32_t inputLatency = -1, outputLatency = -1;
  const auto latencies =
      callSlot<int32_t>(SlotKind::kMember, driver, kGetLatencies, &inputLatency, &outputLatency);
  EXPECT_EQ(latencies.stackDrift, 0);
  EXPECT_EQ(inputLatency, 64);
  EXPECT_EQ(outputLatency, 64);
  int32_t minSize = -1, maxSize = -1, preferred = -1, granularity = -1;
  const auto sizes = callSlot<int32_t>(SlotKind::kMember, driver, kGetBufferSize, &minSize,
                                       &maxSize, &preferred, &granularity);
  EXPECT_EQ(sizes.value, asio::kAseOk);
  EXPECT_EQ(sizes.stackDrift, 0);
  EXPECT_GT(preferred, 0);
  EXPECT_EQ(minSize, preferred);
  EXPECT_EQ(maxSize, preferred);
  EXPECT_EQ(granularity, 0);

  // 12-14: a rate travels as an 8-byte double; only a set-and-get shows it
  // arrived whole.
  const auto can = callSlot<int32_t>(SlotKind::kMember, driver, kCanSampleRate, 96000.0);
  EXPECT_EQ(can.value, asio::kAseOk);
  EXPECT_EQ(can.stackDrift, 0);
  const auto set = callSlot<int32_t>(SlotKind::kMember, driver, kSetSampleRate, 48000.0);
  EXPECT_EQ(set.value, asio::kAseOk);
  EXPECT_EQ(set.stackDrift, 0);
  double rate = 0.0;
  const auto get = callSlot<int32_t>(SlotKind::kMember, driver, kGetSampleRate, &rate);
  EXPECT_EQ(get.value, asio::kAseOk);
  EXPECT_EQ(get.stackDrift, 0);
  EXPECT_EQ(rate, 48000.0);

  // 15-16: one clock, index 0.
  asio::AsioClockSource clocks[4]{};
  int32_t clockCount = 4;
  const auto sources =
      callSlot<int32_t>(SlotKind::kMember, driver, kGetClockSources, &clocks[0], &clockCount);
  EXPECT_EQ(sources.stackDrift, 0);
  EXPECT_EQ(clockCount, 1);
  EXPECT_STREQ(clocks[0].name, "Internal");
  EXPECT_EQ(callSlot<int32_t>(SlotKind::kMember, driver, kSetClockSource, int32_t{1}).value,
            asio::kAseNotPresent);
  EXPECT_EQ(callSlot<int32_t>(SlotKind::kMember, driver, kSetClockSource, int32_t{0}).value,
            asio::kAseOk);

  // 21-23: the panel beside the DLL opens its window, no output-ready,
  // unknown selectors refused.
  const auto panel = callSlot<int32_t>(SlotKind::kMember, driver, kControlPanel);
  EXPECT_EQ(panel.value, asio::kAseOk);
  EXPECT_EQ(panel.stackDrift, 0);
  EXPECT_THAT(panelStartsWithin(kPanelStartLimit), ElementsAre("settings"));
  const auto outputReady = callSlot<int32_t>(SlotKind::kMember, driver, kOutputReady);
  EXPECT_EQ(outputReady.value, asio::kAseNotPresent);
  EXPECT_EQ(outputReady.stackDrift, 0);
  const auto future = callSlot<int32_t>(SlotKind::kMember, driver, kFuture, int32_t{0x7ABCDEF0},
                                        static_cast<void*>(nullptr));
  EXPECT_EQ(future.value, asio::kAseNotPresent);
  EXPECT_EQ(future.stackDrift, 0);

  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, driver, kRelease).value, 0u);
}

// The host's callbacks are plain C functions: cdecl on 32-bit Windows.
int rateChanges = 0;
double lastRate = 0.0;
void TAVRO_CDECL onBufferSwitch(int32_t, asio::AsioBool) {}
void TAVRO_CDECL onRateChange(asio::AsioSampleRate rate) {
  ++rateChanges;
  lastRate = rate;
}

TEST_F(DllActivationTest, BuffersPositionAndFormatsAnswerThroughTheTable) {
  void* driver = createDriver();
  ASSERT_NE(driver, nullptr);

  // 17: a fresh position is 0, and the stamp is left alone without a stream.
  asio::AsioSamples position{7, 7};
  asio::AsioTimeStamp stamp{0xAAAA, 0xBBBB};
  const auto where =
      callSlot<int32_t>(SlotKind::kMember, driver, kGetSamplePosition, &position, &stamp);
  EXPECT_EQ(where.value, asio::kAseOk);
  EXPECT_EQ(where.stackDrift, 0);
  EXPECT_EQ(position.hi, 0u);
  EXPECT_EQ(position.lo, 0u);
  EXPECT_EQ(stamp.hi, 0xAAAAu);
  EXPECT_EQ(stamp.lo, 0xBBBBu);

  // 19: two channels of 4096 frames at 44100 Hz, the second half 16384 bytes in.
  asio::AsioCallbacks callbacks{&onBufferSwitch, &onRateChange, nullptr, nullptr};
  asio::AsioBufferInfo infos[2] = {{asio::kAsioFalse, 0, {}}, {asio::kAsioFalse, 1, {}}};
  const auto created = callSlot<int32_t>(SlotKind::kMember, driver, kCreateBuffers, &infos[0],
                                         int32_t{2}, int32_t{4096}, &callbacks);
  EXPECT_EQ(created.value, asio::kAseOk);
  EXPECT_EQ(created.stackDrift, 0);
  for (const auto& info : infos) {
    ASSERT_NE(info.buffers[0], nullptr);
    EXPECT_EQ(static_cast<char*>(info.buffers[1]) - static_cast<char*>(info.buffers[0]), 16384);
    std::memset(info.buffers[0], 0x5A, 2 * 16384);  // both halves are the host's to write
  }

  // 18: channel 1 is active now; at a DSD rate its type follows the rate.
  asio::AsioChannelInfo channel{};
  channel.channel = 1;
  const auto info = callSlot<int32_t>(SlotKind::kMember, driver, kGetChannelInfo, &channel);
  EXPECT_EQ(info.value, asio::kAseOk);
  EXPECT_EQ(info.stackDrift, 0);
  EXPECT_EQ(channel.type, asio::kInt32Lsb);
  EXPECT_EQ(channel.isActive, asio::kAsioTrue);
  EXPECT_STREQ(channel.name, "TAVROStreamer");

  // 14 with a new rate calls the host back exactly once, with that rate.
  rateChanges = 0;
  EXPECT_EQ(callSlot<int32_t>(SlotKind::kMember, driver, kSetSampleRate, 2822400.0).stackDrift, 0);
  EXPECT_EQ(rateChanges, 1);
  EXPECT_EQ(lastRate, 2822400.0);
  callSlot<int32_t>(SlotKind::kMember, driver, kGetChannelInfo, &channel);
  EXPECT_EQ(channel.type, asio::kDsdInt8Msb1);

  // 22: every I/O-format request is answered with DSD; 48168 gives the drive path.
  asio::AsioIoFormat format{};
  format.formatType = asio::kAsioPcmFormat;
  const auto canDo =
      callSlot<int32_t>(SlotKind::kMember, driver, kFuture, int32_t{asio::kAsioCanDoIoFormat},
                        static_cast<void*>(&format));
  EXPECT_EQ(canDo.value, asio::kAseSuccess);
  EXPECT_EQ(canDo.stackDrift, 0);
  EXPECT_EQ(format.formatType, asio::kAsioDsdFormat);
  char drive[96];
  std::memset(drive, 'x', sizeof drive);
  EXPECT_EQ(callSlot<int32_t>(SlotKind::kMember, driver, kFuture, int32_t{48168},
                              static_cast<void*>(drive))
                .value,
            asio::kAseSuccess);
  EXPECT_EQ(drive[80], '\0');
  EXPECT_EQ(drive[79], 'x');

  // 20: the buffers go, and with them the channel's activity.
  const auto disposed = callSlot<int32_t>(SlotKind::kMember, driver, kDisposeBuffers);
  EXPECT_EQ(disposed.value, asio::kAseOk);
  EXPECT_EQ(disposed.stackDrift, 0);
  callSlot<int32_t>(SlotKind::kMember, driver, kGetChannelInfo, &channel);
  EXPECT_EQ(channel.isActive, asio::kAsioFalse);

  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, driver, kRelease).value, 0u);
}

TEST_F(DllActivationTest, InitWithoutAStreamerFailsAndStartsThePanelQuietlyBesideTheDll) {
  NotificationSpy spy;
  void* driver = createDriver();
  ASSERT_NE(driver, nullptr);

  const auto init =
      callSlot<int32_t>(SlotKind::kMember, driver, kInit, static_cast<void*>(nullptr));
  EXPECT_EQ(init.value, asio::kAsioFalse);
  EXPECT_EQ(init.stackDrift, 0);
  const std::string text = errorMessage(driver);
  const InitFailure* failure = nullptr;
  for (const InitFailure& known : kInitFailures) {
    if (text == known.text) failure = &known;
  }
  ASSERT_NE(failure, nullptr) << "unexpected error text \"" << text << "\"";
  EXPECT_EQ(spy.codes(), failure->codes) << "after \"" << text << "\"";

  EXPECT_THAT(panelStartsWithin(kPanelStartLimit), ElementsAre("quiet"));
  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, driver, kRelease).value, 0u);
}

TEST_F(DllActivationTest, ThePanelIsLeftAloneWhileItsMutexExistsAndStartedOnceItIsGone) {
  void* driver = createDriver();
  ASSERT_NE(driver, nullptr);

  platform::KernelHandle panelRunning = platform::createMutex(kPanelMutexName);
  ASSERT_NE(panelRunning, nullptr);
  callSlot<int32_t>(SlotKind::kMember, driver, kInit, static_cast<void*>(nullptr));
  platform::closeHandle(panelRunning);

  // Init looks again on every call. Had the first call started a panel, its
  // line would arrive too, and before this one's.
  callSlot<int32_t>(SlotKind::kMember, driver, kInit, static_cast<void*>(nullptr));
  ASSERT_THAT(panelStartsWithin(kPanelStartLimit), ElementsAre("quiet"));
  std::this_thread::sleep_for(kPanelGrace);
  EXPECT_THAT(readLines(panelLog), ElementsAre("quiet"));

  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, driver, kRelease).value, 0u);
}

TEST_F(DllActivationTest, CanUnloadOnlyOnceEveryObjectAndLockIsGone) {
  ASSERT_EQ(canUnloadNow(), com::kSOk);

  void* classFactory = factory();
  ASSERT_NE(classFactory, nullptr);
  EXPECT_EQ(canUnloadNow(), com::kSFalse) << "a factory is held";
  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, classFactory, kAddRef).value, 2u);
  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, classFactory, kRelease).value, 1u);
  EXPECT_EQ(callSlot<HResult>(SlotKind::kCom, classFactory, kLockServer, int32_t{1}).value,
            com::kSOk);
  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, classFactory, kRelease).value, 0u);
  EXPECT_EQ(canUnloadNow(), com::kSFalse) << "the server is locked";

  void* driver = createDriver();
  ASSERT_NE(driver, nullptr);
  classFactory = factory();
  ASSERT_NE(classFactory, nullptr);
  EXPECT_EQ(callSlot<HResult>(SlotKind::kCom, classFactory, kLockServer, int32_t{0}).value,
            com::kSOk);
  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, classFactory, kRelease).value, 0u);
  EXPECT_EQ(canUnloadNow(), com::kSFalse) << "a driver object lives";

  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, driver, kAddRef).value, 2u);
  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, driver, kRelease).value, 1u);
  EXPECT_EQ(canUnloadNow(), com::kSFalse);
  EXPECT_EQ(callSlot<uint32_t>(SlotKind::kCom, driver, kRelease).value, 0u);
  EXPECT_EQ(canUnloadNow(), com::kSOk);
}

#if defined(_WIN32) && defined(__i386__)
// 32-bit only: the exports are stdcall as well, and the hand-made calls above
// really would notice a callee that leaves its arguments to the caller.

int32_t TAVRO_CDECL differenceCdecl(int32_t a, int32_t b) { return a - b; }
int32_t TAVRO_STDCALL differenceStdcall(int32_t a, int32_t b) { return a - b; }

TEST(HandMadeCallTest, SeesTheArgumentOrderAndWhoPopsThem) {
  const uint32_t words[] = {50, 8};
  std::ptrdiff_t drift = 1;
  EXPECT_EQ(
      callWithStackWords(reinterpret_cast<const void*>(&differenceCdecl), 0, words, 2, &drift),
      42u);
  EXPECT_EQ(drift, -8) << "a cdecl callee leaves its 8 bytes of arguments behind";
  EXPECT_EQ(
      callWithStackWords(reinterpret_cast<const void*>(&differenceStdcall), 0, words, 2, &drift),
      42u);
  EXPECT_EQ(drift, 0);
}

TEST_F(DllActivationTest, ExportsAreStdcallAndIgnoreEcx) {
  void* out = nullptr;
  const uint32_t words[] = {
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&com::kClsidTavroDriver)),
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&com::kIidIClassFactory)),
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&out))};
  std::ptrdiff_t drift = 1;
  EXPECT_EQ(callWithStackWords(reinterpret_cast<const void*>(getClassObject), 0xBAADF00Du, words, 3,
                               &drift),
            static_cast<uint32_t>(com::kSOk));
  EXPECT_EQ(drift, 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(callWithStackWords(reinterpret_cast<const void*>(canUnloadNow), 0xBAADF00Du, nullptr, 0,
                               &drift),
            static_cast<uint32_t>(com::kSFalse));
  EXPECT_EQ(drift, 0);
  const auto release = callSlot<uint32_t>(SlotKind::kCom, out, kRelease);
  EXPECT_EQ(release.value, 0u);
  EXPECT_EQ(release.stackDrift, 0);
}
#endif

}  // namespace
}  // namespace tavro::testing
