#include "recorddevice.h"

#include <alsa/asoundlib.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

bool CardCaptures(int card)
{
    char name[32];
    snprintf(name, sizeof(name), "hw:%d", card);
    snd_ctl_t *ctl = nullptr;
    if (snd_ctl_open(&ctl, name, 0) < 0)
        return false;
    snd_pcm_info_t *info = nullptr;
    bool found = false;
    if (snd_pcm_info_malloc(&info) == 0) {
        int device = -1;
        while (!found && snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
            snd_pcm_info_set_device(info, static_cast<unsigned>(device));
            snd_pcm_info_set_subdevice(info, 0);
            snd_pcm_info_set_stream(info, SND_PCM_STREAM_CAPTURE);
            found = snd_ctl_pcm_info(ctl, info) == 0;
        }
        snd_pcm_info_free(info);
    }
    snd_ctl_close(ctl);
    return found;
}

} // namespace

int CountRecordDevices()
{
    // The same switch the engine reads to pick its sound device.
    const char *backend = getenv("LIRKO_AUDIO");
    if (backend && (strncmp(backend, "file:", 5) == 0 || strcmp(backend, "null") == 0))
        return 1;
    int count = 0;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        if (CardCaptures(card))
            count++;
    }
    return count;
}
