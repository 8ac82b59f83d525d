// AMR-NB frames in the storage format (one header byte, then the speech
// bits), by which the engine cuts AMR-NB data into frames.
#ifndef AMR_FRAME_H
#define AMR_FRAME_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Largest storage frame (mode 7, 12.2 kbit/s), header included.
#define AMR_FRAME_MAX 32

// Frame type from a header byte (bits 3-6).
static inline uint32_t amr_frame_type(uint8_t header)
{
    return (uint32_t)(header >> 3) & 0x0F;
}

// Length of the frame that starts with this header byte, header included:
// 13, 14, 16, 18, 20, 21, 27, 32 for modes 0-7, 6 for SID, 1 for NO_DATA,
// 0 for the types that do not exist (9-14).
uint32_t amr_frame_size(uint8_t header);

#ifdef __cplusplus
}
#endif

#endif
