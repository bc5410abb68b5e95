#pragma once

// The volumes of the device contract suite: T:, whose volume interface is the second of the
// class, after one of another volume manager with T:'s number. Under Wine the test-only driver of
// the volume prefix serves them; on the simulated machine they are made alike.

#include <string>

inline const std::u16string kTestDrive = u"T:";
inline const std::u16string kTestInterface =
    u"\\\\?\\STORAGE#Volume#{3e9a51c0-7d4b-4f2a-9b1e-5c8d2f6a7b40}#0000000000200000#"
    u"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
inline const std::u16string kTestInstanceId =
    u"STORAGE\\VOLUME\\{3e9a51c0-7d4b-4f2a-9b1e-5c8d2f6a7b40}#0000000000200000";

void PrepareTestVolumes();
