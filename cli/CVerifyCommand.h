#pragma once

#include <QStringList>

#include <cstdio>

// tamsel-cli verify SOURCE: reads an E01 image whole and checks it against
// the MD5 and SHA1 its acquisition stored, and names the chunks that fail
// their own checksums.
class CVerifyCommand
{
public:
    explicit CVerifyCommand(FILE* out = stdout, FILE* err = stderr);

    int run(const QStringList& arguments);

    static QString usage();

private:
    FILE* m_out;
    FILE* m_err;
};
