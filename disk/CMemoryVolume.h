#pragma once

#include "disk/IVolume.h"

#include <QByteArray>
#include <functional>
#include <vector>

// A volume held in memory, so that parsers, the scan and the recovery can be
// tested and fuzzed without files.
//
// Two test aids: a range of bytes can be made to fail with an errno (a
// failing sector, a device that has gone), and every read can pass a hook
// first (so a test can hold the scan at a known point with a gate).
class CMemoryVolume : public IVolume
{
public:
    explicit CMemoryVolume(QByteArray bytes, QString name = QStringLiteral("memory"));
    // A volume of `length` bytes whose first bytes are `bytes` and whose
    // rest reads as zeros, like a sparse image: large volumes for the
    // fuzzers and tests without holding them in memory. A length shorter
    // than `bytes` cuts them.
    CMemoryVolume(QByteArray bytes, int64_t length, QString name = QStringLiteral("memory"));

    ReadResult read(int64_t offset, void* buffer, size_t length) override;
    int64_t length() const override { return m_length; }
    QString name() const override { return m_name; }
    bool rotational() const override { return m_rotational; }

    // Pretend to lie on a spinning disk.
    void setRotational(bool rotational) { m_rotational = rotational; }
    // Reads end at `offset` without an error from now on, while length()
    // stays: a source cut short after it was opened.
    void cutAt(int64_t offset) { m_cutAt = offset; }

    // Reads touching [offset, offset + length) fail with `error` at the
    // first failing byte.
    void failRange(int64_t offset, int64_t length, int error);

    // Called at the start of every read with its offset and length. Runs on
    // the reading thread.
    void setReadHook(std::function<void(int64_t offset, size_t length)> hook);

    const QByteArray& bytes() const { return m_bytes; }

private:
    struct Failure
    {
        int64_t offset;
        int64_t length;
        int error;
    };

    QByteArray m_bytes;
    int64_t m_length = 0;
    QString m_name;
    std::vector<Failure> m_failures;
    std::function<void(int64_t, size_t)> m_hook;
    bool m_rotational = false;
    int64_t m_cutAt = -1;
};
