#include "transfer_engine.h"

#include "lirko_win.h"

TransferEngine TransferEngine::lirko()
{
    TransferEngine e;
    e.codedToPcm = [](const QString &in, const QString &out) {
        const QByteArray i = in.toLocal8Bit();
        const QByteArray o = out.toLocal8Bit();
        return lirko_win_audio_coded_to_pcm(i.constData(), o.constData());
    };
    e.playAudio = [](const QString &path) {
        const QByteArray p = path.toLocal8Bit();
        return lirko_win_record_play_audio(p.constData());
    };
    return e;
}
