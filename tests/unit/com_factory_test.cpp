// The COM layer as a host meets it: DllGetClassObject, the class factory,
// reference counts, aggregation and the unload decision.
#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "asio/asio.h"
#include "com/class_factory.h"
#include "com/class_id.h"
#include "com/exports.h"
#include "com/module_counters.h"
#include "support/driver_fixture.h"

// The driver makes its objects with the non-throwing new, so a host sees a
// result code instead of an exception; this lets a test make that one fail.
std::atomic<bool> refuseNothrowNew{false};

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (refuseNothrowNew.load()) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

namespace tavro::com {
namespace {

constexpr Guid kSomeOtherId{0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

int32_t liveObjects() { return activeObjects().load(); }

class ComFactoryTest : public testing::DriverTest {};

struct ClassObjectCase {
  const char* name;
  Guid clsid;
  Guid iid;
  HResult expected;
};

class DllGetClassObjectTest : public ComFactoryTest,
                              public ::testing::WithParamInterface<ClassObjectCase> {};

TEST_P(DllGetClassObjectTest, AnswersAsComExpects) {
  const ClassObjectCase& c = GetParam();
  const int32_t before = liveObjects();
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(DllGetClassObject(&c.clsid, &c.iid, &out), c.expected);
  if (c.expected == kSOk) {
    ASSERT_NE(out, nullptr);
    auto* factory = static_cast<IClassFactory*>(out);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
  }
  EXPECT_EQ(liveObjects(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DllGetClassObjectTest,
    ::testing::Values(
        ClassObjectCase{"DriverAsClassFactory", kClsidTavroDriver, kIidIClassFactory, kSOk},
        ClassObjectCase{"DriverAsUnknown", kClsidTavroDriver, kIidIUnknown, kSOk},
        ClassObjectCase{"DriverAsOtherInterface", kClsidTavroDriver, kClsidTavroDriver,
                        kENoInterface},
        ClassObjectCase{"UnknownClass", kSomeOtherId, kIidIClassFactory, kClassENotAvailable},
        // The interface is checked before the class table is looked at.
        ClassObjectCase{"UnknownClassAndInterface", kSomeOtherId, kSomeOtherId, kENoInterface}),
    [](const auto& info) { return std::string(info.param.name); });

IClassFactory* getFactory() {
  void* out = nullptr;
  EXPECT_EQ(DllGetClassObject(&kClsidTavroDriver, &kIidIClassFactory, &out), kSOk);
  return static_cast<IClassFactory*>(out);
}

TEST_F(ComFactoryTest, FactoryQueryInterfaceHandsOutItselfForItsTwoInterfaces) {
  IClassFactory* factory = getFactory();
  EXPECT_EQ(factory->QueryInterface(kIidIClassFactory, nullptr), kEPointer);
  for (const Guid& iid : {kIidIUnknown, kIidIClassFactory}) {
    void* out = nullptr;
    EXPECT_EQ(factory->QueryInterface(iid, &out), kSOk);
    EXPECT_EQ(out, factory);
    EXPECT_EQ(factory->Release(), 1u);
  }
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(factory->QueryInterface(kClsidTavroDriver, &out), kENoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->Release(), 0u);
}

struct CreateCase {
  const char* name;
  bool aggregated;
  Guid iid;
  HResult expected;
};

class CreateInstanceTest : public ComFactoryTest,
                           public ::testing::WithParamInterface<CreateCase> {};

// An outer object that only counts what the inner object forwards to it.
struct CountingOuter final : IUnknown {
  int references = 1;
  HResult TAVRO_STDCALL QueryInterface(const Guid&, void** out) override {
    *out = nullptr;
    return kENoInterface;
  }
  uint32_t TAVRO_STDCALL AddRef() override { return static_cast<uint32_t>(++references); }
  uint32_t TAVRO_STDCALL Release() override { return static_cast<uint32_t>(--references); }
};

TEST_P(CreateInstanceTest, CreatesOnlyWhatItCanHandOut) {
  const CreateCase& c = GetParam();
  IClassFactory* factory = getFactory();
  CountingOuter outer;
  const int32_t before = liveObjects();

  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(factory->CreateInstance(c.aggregated ? &outer : nullptr, c.iid, &out), c.expected);
  if (c.expected != kSOk) {
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(liveObjects(), before) << "a refused request must leave no object alive";
  } else {
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(liveObjects(), before + 1);
    EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 0u);
    EXPECT_EQ(liveObjects(), before);
  }
  EXPECT_EQ(outer.references, 1);
  factory->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Table, CreateInstanceTest,
    ::testing::Values(
        CreateCase{"DriverInterfaceAsHostsAsk", false, kClsidTavroDriver, kSOk},
        CreateCase{"Unknown", false, kIidIUnknown, kSOk},
        CreateCase{"AnyOtherInterfaceLeavesNothing", false, kSomeOtherId, kENoInterface},
        CreateCase{"ClassFactoryInterfaceLeavesNothing", false, kIidIClassFactory, kENoInterface},
        CreateCase{"AggregatedMustAskForUnknown", true, kClsidTavroDriver, kENoInterface},
        CreateCase{"AggregatedInnerUnknown", true, kIidIUnknown, kSOk}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ComFactoryTest, AnObjectThatCannotBeAllocatedIsOutOfMemory) {
  IClassFactory* factory = getFactory();
  const int32_t before = liveObjects();
  void* out = reinterpret_cast<void*>(0x1);
  refuseNothrowNew.store(true);
  const HResult result = factory->CreateInstance(nullptr, kClsidTavroDriver, &out);
  refuseNothrowNew.store(false);
  EXPECT_EQ(result, kEOutOfMemory);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(liveObjects(), before);
  factory->Release();
}

TEST_F(ComFactoryTest, CreateInstanceWithoutOutPointerFails) {
  IClassFactory* factory = getFactory();
  EXPECT_EQ(factory->CreateInstance(nullptr, kClsidTavroDriver, nullptr), kEPointer);
  factory->Release();
}

TEST_F(ComFactoryTest, AggregatedDriverForwardsItsIUnknownToTheOuterObject) {
  IClassFactory* factory = getFactory();
  CountingOuter outer;
  void* innerOut = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, kIidIUnknown, &innerOut), kSOk);
  factory->Release();
  auto* inner = static_cast<INonDelegatingUnknown*>(innerOut);

  void* asioOut = nullptr;
  ASSERT_EQ(inner->InnerQueryInterface(kClsidTavroDriver, &asioOut), kSOk);
  EXPECT_EQ(outer.references, 2) << "the IASIO reference is counted by the outer object";
  auto* asio = static_cast<asio::IAsio*>(asioOut);
  asio->AddRef();
  EXPECT_EQ(outer.references, 3);
  asio->Release();
  asio->Release();
  EXPECT_EQ(outer.references, 1);

  // The outer object owns the inner one through its non-delegating unknown.
  const int32_t before = liveObjects();
  EXPECT_EQ(inner->InnerRelease(), 0u);
  EXPECT_EQ(liveObjects(), before - 1);
}

TEST_F(ComFactoryTest, DriverQueryInterfaceRefusesForeignIdsAndKeepsItsCount) {
  asio::IAsio* driver = testing::createDriver();
  ASSERT_NE(driver, nullptr);
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(driver->QueryInterface(kSomeOtherId, &out), kENoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(driver->QueryInterface(kClsidTavroDriver, nullptr), kEPointer);

  void* again = nullptr;
  EXPECT_EQ(driver->QueryInterface(kClsidTavroDriver, &again), kSOk);
  EXPECT_EQ(again, driver);
  EXPECT_EQ(driver->Release(), 1u);
  EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(ComFactoryTest, FreshObjectsFirstReferenceCountsOne) {
  HResult result = kSOk;
  CUnknown* object = kClassTable[0].create(nullptr, &result);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(result, kSOk);
  EXPECT_EQ(object->referenceCount(), 0);
  EXPECT_EQ(object->InnerAddRef(), 1u);
  EXPECT_EQ(object->InnerRelease(), 0u);
}

TEST_F(ComFactoryTest, CanUnloadOnlyWithoutObjectsFactoriesOrLocks) {
  ASSERT_EQ(DllCanUnloadNow(), kSOk);

  IClassFactory* factory = getFactory();
  EXPECT_EQ(DllCanUnloadNow(), kSFalse) << "a held factory points into the module";
  EXPECT_EQ(factory->LockServer(1), kSOk);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), kSFalse) << "locked";

  asio::IAsio* driver = testing::createDriver();
  ASSERT_NE(driver, nullptr);
  factory = getFactory();
  EXPECT_EQ(factory->LockServer(0), kSOk);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), kSFalse) << "a driver object is alive";

  driver->Release();
  EXPECT_EQ(DllCanUnloadNow(), kSOk);
}

}  // namespace
}  // namespace tavro::com
