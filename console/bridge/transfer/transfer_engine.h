#pragma once

#include <QString>
#include <functional>

// The two engine services the transfers use: decoding a coded recording to
// 16-bit 8000 Hz mono PCM, and playing a coded recording. Both answer -1 on
// failure. The console binds them to the engine library; tests bind fakes.
struct TransferEngine {
    std::function<int(const QString &inPath, const QString &outPath)> codedToPcm;
    std::function<int(const QString &path)> playAudio;

    // Bound to lirko_win_audio_coded_to_pcm and lirko_win_record_play_audio,
    // paths in the local 8-bit encoding.
    static TransferEngine lirko();
};
