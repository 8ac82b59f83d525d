#pragma once

#include <QString>

// Wraps a raw PCM file (16-bit, mono, 8000 Hz: what the engine's decoder
// yields) into a WAV file: the 44-byte header, then the PCM bytes unchanged.
// Returns the PCM byte count, or -1 when the PCM file is missing or either
// file cannot be read or written completely (a partial WAV is removed).
qint64 pcmToWav(const QString &pcmPath, const QString &wavPath);

// The 44-byte header for a PCM payload of the given size.
QByteArray wavHeader(quint32 pcmBytes);
