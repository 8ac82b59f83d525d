// Sound-device queries the console makes before it offers recording.
#ifndef LIRKO_AUDIO_DEVICE_H
#define LIRKO_AUDIO_DEVICE_H

#ifdef __cplusplus
extern "C" {
#endif

// Number of sound-input devices of the sound backend in use (0: none).
int lirko_win_record_device_count(void);

#ifdef __cplusplus
}
#endif

#endif
