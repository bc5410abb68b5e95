#include "contract/TestVolumes.h"

#include "platform/sim/Machine.h"

void PrepareTestVolumes() {
  sim::Machine& machine = sim::TheMachine();
  machine = sim::Machine{};
  machine.drives = {sim::Drive{kTestDrive, 11, 0, 0, u"VOLMGR"}};
  std::u16string other = kTestInterface;
  other.replace(other.find(u"0200000"), 7, u"0100000");
  machine.volumeInterfaces = {
      sim::VolumeInterface{other, u"STORAGE\\VOLUME\\other", 11, u"DMIO", 0, 0},
      sim::VolumeInterface{kTestInterface, kTestInstanceId, 11, u"VOLMGR", 0, 0}};
}
