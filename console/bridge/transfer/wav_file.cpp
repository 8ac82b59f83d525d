#include "wav_file.h"

#include <QFile>
#include <QtEndian>

namespace
{

void putLe32(QByteArray &b, quint32 v)
{
    char raw[4];
    qToLittleEndian<quint32>(v, raw);
    b.append(raw, 4);
}

void putLe16(QByteArray &b, quint16 v)
{
    char raw[2];
    qToLittleEndian<quint16>(v, raw);
    b.append(raw, 2);
}

} // namespace

QByteArray wavHeader(quint32 pcmBytes)
{
    QByteArray h;
    h.reserve(44);
    h.append("RIFF", 4);
    putLe32(h, pcmBytes + 36);
    h.append("WAVE", 4);
    h.append("fmt ", 4);
    putLe32(h, 16);
    putLe16(h, 1);     // PCM
    putLe16(h, 1);     // mono
    putLe32(h, 8000);  // samples per second
    putLe32(h, 16000); // bytes per second
    putLe16(h, 2);     // block align
    putLe16(h, 16);    // bits per sample
    h.append("data", 4);
    putLe32(h, pcmBytes);
    return h;
}

qint64 pcmToWav(const QString &pcmPath, const QString &wavPath)
{
    // Read-only: a missing PCM file is a failed decode, not an empty recording.
    QFile pcm(pcmPath);
    if (!pcm.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray data = pcm.readAll();
    if (data.size() != pcm.size())
        return -1;
    QFile wav(wavPath);
    if (!wav.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    const QByteArray header = wavHeader(static_cast<quint32>(data.size()));
    const bool ok =
        wav.write(header) == header.size() && wav.write(data) == data.size() && wav.flush();
    wav.close();
    if (!ok) {
        wav.remove();
        return -1;
    }
    return data.size();
}
