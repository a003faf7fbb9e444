#pragma once

#include "scan/CDocumentDetails.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <cstdint>

// One found document: where it starts on the volume, how long it is, its
// type, and the texts the result table shows for it. A plain value that
// travels between threads by queued signal.
//
// A carved document is one stretch of the volume (startSector for size
// bytes). A document known from a deleted file-system entry also carries
// what the entry says: its original name and folder, its modification time,
// and where its bytes are (extents on the source, or the bytes themselves
// when the file system kept them inside its own record).
class CFileNode
{
public:
    // How the document was found.
    enum Origin : int
    {
        OriginCarved = 0,       // by its content only
        OriginDeletedEntry = 1, // by a deleted file-system entry only
        OriginBoth = 2,         // an entry, and carving found the same start
    };

    // A byte run of the document on the source. A run whose offset is
    // kSparse holds zeros that were never written to the disk.
    struct Extent
    {
        static constexpr int64_t kSparse = -1;
        int64_t offset = 0; // bytes from the start of the source
        int64_t length = 0;
        bool operator==(const Extent& other) const { return offset == other.offset && length == other.length; }
    };

    CFileNode() = default;
    CFileNode(const QString& typeName, qint64 size, quint64 startSector, const QString& reservedText,
              const QString& name, const QString& timeText, int typeCode, int kind,
              const QString& sizeText, const QString& typeDescription);

    // Byte offset of the document on the volume (sectors are 512 bytes).
    quint64 byteOffset() const { return startSector * 512u; }

    // Whether the document's bytes are described by extents or resident
    // bytes rather than by one stretch from startSector.
    bool hasLayout() const { return !extents.isEmpty() || hasResidentData; }

    // The name the document is shown and recovered under: the entry's
    // original name where one is known, else the sector name ("2048.PDF").
    QString displayName() const;

    // Byte offset on the source of the document's first byte, or -1 when it
    // has none there (resident bytes, or a file that opens with a sparse
    // run). Carving finds a document only at such a place.
    int64_t firstByteOffset() const;

    // Some of the document's bytes are gone (reused by another file, or the
    // entry's layout is cut short, its compressed bytes cannot be
    // decompressed), or its own check failed (what the entry points at is
    // no longer the document, whatever the allocation says: its clusters
    // were reused by a file deleted in turn): it must never be offered as
    // whole.
    bool isDamaged() const
    {
        return overwritten > 0.0 || incomplete || undecodable
            || details.integrity == CDocumentDetails::IntegrityDamaged;
    }

    // The modification time to show and to give a recovered file: the file
    // system's where it kept one, else the one the document itself states.
    QDateTime bestModified() const { return modified.isValid() ? modified : details.modified; }

    qint64 size = 0;
    // 64-bit: volumes beyond 2 TiB have sector numbers past 2^32.
    quint64 startSector = 0;
    int typeCode = 0;
    int kind = 0;
    QString typeName;
    QString sizeText;
    QString typeDescription;
    QString reservedText;
    QString name;
    QString timeText;
    QList<QMap<qint64, qint64>> extraMaps;

    // What a deleted entry tells (empty for a carved document).
    int origin = OriginCarved;
    // The original file name with its extension ("毕业论文终稿.docx"); empty
    // when only carving knows the document.
    QString originalName;
    // The folder the entry sat in, "/" separated ("/论文/2024"); a folder
    // whose parent is lost starts with "?".
    QString folder;
    // The file's modification time (invalid when unknown).
    QDateTime modified;
    // The document's bytes on the source, in file order (empty: one stretch
    // from startSector).
    QVector<Extent> extents;
    // Bytes per compression unit when the file system stored the data
    // compressed (NTFS): `extents` then give the stored units, covering
    // whole units, and only CCompressedUnits reads them. 0: stored as is.
    qint64 compressionUnit = 0;
    // The whole document, when the file system kept it inside its record.
    QByteArray residentData;
    bool hasResidentData = false;
    // Share of the document's bytes that the file system now marks in use
    // for something else (0: untouched, 1: wholly overwritten).
    double overwritten = 0.0;
    // The entry's layout could not be followed to the end (extension records
    // lost, a run list cut short): the document is not whole.
    bool incomplete = false;
    // Stored compressed, and a compression unit no longer decompresses (its
    // clusters were written over and freed again): what it held is lost.
    bool undecodable = false;
    // Found in clusters the file system marks in use but no file reaches.
    bool orphaned = false;
    // Carved inside a live file (a document in a live archive, virtual disk
    // image or mail store): listed only when the whole volume is read.
    bool insideLiveFile = false;
    // What the document says about itself; filled in after it was listed.
    CDocumentDetails details;
};

Q_DECLARE_METATYPE(CFileNode)

// Registers CFileNode for queued connections (idempotent).
void registerFileNodeMetaType();
