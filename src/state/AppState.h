#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// The one record of shared state, owned by App for the whole run.
struct AppState {
    QString CurrentFile;                                       // full path of the current track
    std::vector<QString> PlayList = std::vector<QString>(256); // grows past 256 when a folder holds more
    int32_t PlayCount = 0;
    int32_t PlayPos = 0;
    int16_t ListLoaded = 0; // 1 once a file has been chosen
    int16_t SingleMode = 0; // 0 "ALL PLAY", 1 "SINGLE"
    int16_t RepeatOn = 0;
    int16_t StartupStep = 1;
    int16_t ConsoleOn = 0;   // -1 shown, 0 hidden
    int16_t MeterShown = -1; // -1 switched on, 0 off
    int16_t PowerShown = -1;
};
