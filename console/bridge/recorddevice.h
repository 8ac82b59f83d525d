// How many sound-input devices the console can record from.
#pragma once

// ALSA cards with at least one capture device; 1 when LIRKO_AUDIO gives the
// engine a device without hardware (a file, or ALSA's null device).
int CountRecordDevices();
