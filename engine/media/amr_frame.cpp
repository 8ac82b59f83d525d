#include "amr_frame.h"

uint32_t amr_frame_size(uint8_t header)
{
    static const uint8_t sizes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1};
    return sizes[amr_frame_type(header)];
}
