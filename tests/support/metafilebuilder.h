#pragma once

// Metafiles built record by record, for the players' worst cases: the file
// format trusts its own numbers, so a few bytes can ask for minutes of work
// and millions of records for gigabytes.

#include <QByteArray>
#include <QtEndian>

#include <initializer_list>

namespace metafiles {

inline void put16(QByteArray &out, int value)
{
    char b[2];
    qToLittleEndian<quint16>(quint16(value), b);
    out.append(b, 2);
}

inline void put32(QByteArray &out, qint64 value)
{
    char b[4];
    qToLittleEndian<quint32>(quint32(value), b);
    out.append(b, 4);
}

inline QByteArray wmfRecord(int function, std::initializer_list<int> params = {})
{
    QByteArray r;
    put32(r, 3 + qint64(params.size()));
    put16(r, function);
    for (int p : params)
        put16(r, p);
    return r;
}

// A placeable Windows metafile: `records` repeated `times`, then the end.
inline QByteArray wmf(const QByteArray &records, qint64 times, int inch,
                      int right = 1000, int bottom = 1000)
{
    QByteArray out;
    put32(out, 0x9AC6CDD7);
    put16(out, 0);
    for (int v : {0, 0, right, bottom})
        put16(out, v);
    put16(out, inch);
    put32(out, 0);
    quint16 checksum = 0;
    for (int i = 0; i < 20; i += 2)
        checksum ^= qFromLittleEndian<quint16>(out.constData() + i);
    put16(out, checksum);

    const QByteArray end = wmfRecord(0);
    const qint64 words = (18 + records.size() * times + end.size()) / 2;
    put16(out, 1);
    put16(out, 9);
    put16(out, 0x0300);
    put32(out, words);
    put16(out, 0);
    put32(out, records.size() / 2);
    put16(out, 0);
    out.reserve(out.size() + records.size() * times + end.size());
    for (qint64 i = 0; i < times; ++i)
        out += records;
    return out + end;
}

inline QByteArray emfRecord(int type, const QByteArray &payload = {})
{
    QByteArray r;
    put32(r, type);
    put32(r, 8 + payload.size());
    return r + payload;
}

// An enhanced metafile of 1000 x 1000 device units: `records` repeated
// `times`, then the end-of-file record.
inline QByteArray emf(const QByteArray &records, qint64 times)
{
    QByteArray eof;
    for (int v : {0, 16, 20})
        put32(eof, v);
    const QByteArray end = emfRecord(14, eof);
    const qint64 headerSize = 88;
    QByteArray out;
    put32(out, 1);
    put32(out, headerSize);
    for (int v : {0, 0, 1000, 1000, 0, 0, 26458, 26458})
        put32(out, v);
    put32(out, 0x464D4520); // " EMF"
    put32(out, 0x10000);
    put32(out, headerSize + records.size() * times + end.size());
    put32(out, times + 2);
    put16(out, 0);
    put16(out, 0);
    for (int v : {0, 0, 0, 1920, 1080, 508, 286})
        put32(out, v);
    out.reserve(out.size() + records.size() * times + end.size());
    for (qint64 i = 0; i < times; ++i)
        out += records;
    return out + end;
}

// 68 bytes that keep libwmf drawing one pie slice for about half a minute:
// a placeable header with no units per inch.
inline QByteArray slowPie()
{
    return wmf(wmfRecord(0x081A, {0, 1000, 0, 0, 1000, 1000, 0, 0}), 1, 0);
}

} // namespace metafiles
