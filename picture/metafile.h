#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace picture {

enum class MetafileKind { None, Wmf, Emf };

// Looks at the first bytes of a file to tell a metafile from anything else.
MetafileKind metafileKind(const QByteArray &head);

// Plays a whole Windows metafile into an image of exactly `size` pixels;
// returns a null image when the metafile cannot be read.
QImage renderWmf(const QByteArray &data, QSize size);
// Converts a whole enhanced metafile to SVG text; returns an empty array when
// the metafile cannot be read.
QByteArray emfToSvg(const QByteArray &data);

} // namespace picture
