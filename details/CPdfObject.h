#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <cstdint>

// A parsed PDF value: enough of the object syntax for trailers, cross-
// reference streams, the Info dictionary and the catalogue. Parsing is
// bounded in depth and in the number of values it makes.
class CPdfObject
{
public:
    enum Type { Null, Bool, Number, String, Name, Array, Dictionary, Reference, Keyword };

    Type type = Null;
    double number = 0;
    int objectNumber = 0;
    int generation = 0;
    // String bytes, name (without '/'), or keyword text.
    QByteArray text;
    QList<CPdfObject> items;                         // Array
    QList<QPair<QByteArray, CPdfObject>> entries;    // Dictionary

    // The value of a dictionary key, or a Null value.
    const CPdfObject& get(const char* key) const;
    // A number written with 40 digits (or 1e300) is no integer any field
    // could hold; converting it would be undefined.
    bool isInteger() const
    {
        return type == Number && fitsInteger() && number == static_cast<double>(static_cast<int64_t>(number));
    }
    int64_t integer() const { return type == Number && fitsInteger() ? static_cast<int64_t>(number) : -1; }

    // Parses one value at `*at` of `data[0..length)`, moving `*at` past it.
    // `budget` is decremented per value made; false on a syntax error, an
    // end of data, or a spent budget.
    static bool parse(const char* data, int length, int* at, CPdfObject* out, int64_t* budget);
    static void skipSpace(const char* data, int length, int* at);
    // A PDF text string: UTF-16BE after its byte order mark (or UTF-8 after
    // its own), else PDFDocEncoding.
    static QString textOf(const QByteArray& bytes);

private:
    // Inside int64_t's range (and not NaN).
    bool fitsInteger() const { return number > -9.2e18 && number < 9.2e18; }
    static bool parseValue(const char* d, int n, int* at, CPdfObject* out, int64_t* budget, int depth);
};
