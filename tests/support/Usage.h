#pragma once

#include <string>

// The usage text, exactly as the program prints it.
inline const std::u16string kUsageText =
    u"\nZOLTMgr.exe Command Line Options:\n"
    u"\t-export export ZOLT volume settings to file\n"
    u"\t-import import ZOLT volume settings from file\n"
    u"\nExamples:\n"
    u"\tZOLTMgr.exe -export C: zolt_volume_c.dat\n"
    u"\tZOLTMgr.exe -import C: zolt_volume_c.dat\n";
