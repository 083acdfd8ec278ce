#include <gtest/gtest.h>

#include "fake_runtime_flow.h"

namespace zelk {
namespace {

// The same walk the Windows build takes under Wine, here with the Linux runner and the fake
// runtime found on PATH as "podman".
TEST(FakeRuntimeFlow, ListStartStopStartRemoveAndRemoveEverything) { walk_through_the_fake_runtime(); }

}  // namespace
}  // namespace zelk
