#include "contract/TestKey.h"

#include "platform/sim/Machine.h"

std::u16string NewTestKeyPath() {
  sim::TheMachine() = sim::Machine{};
  return u"Software\\ZOLTMgrContract\\Run";
}

void DeleteTestKey(const std::u16string&) { sim::TheMachine() = sim::Machine{}; }
