// A library test in which the update machine can run: every machine idle, and a clock that
// moves on with each sleep as real time would, so that the machine's pauses pass.
#pragma once

#include "firmware/update_machine.h"
#include "support/library_fixture.h"

namespace zavn::testing {

class UpdateReadyTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    firmware::ResetAllUpdateSlots();
    system_.AdvanceClockOnSleep();
    system_.SetNow(1000);
  }
  void TearDown() override {
    LibraryTest::TearDown();
    firmware::ResetAllUpdateSlots();
  }

  // Connects what is plugged and waits until the poll thread, if one runs, has parked.
  void Connect() {
    LibraryTest::Connect();
    system_.WaitUntilParked();
  }
  // What a host does to keep an update going while the receiver re-enumerates as its boot
  // loader and back: connect again whenever the thread ended or player 1's link is down.
  void ReconnectIfLost(bool running) {
    if (!running || ZAVNGetRxStatus(1) != LINK_OK) Connect();
  }
};

}  // namespace zavn::testing
