#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QVector>

#include <cstdint>

// What a Word document's own streams say of their bytes: the file
// information block at the head of the WordDocument stream names, in the
// table stream, the piece table (where the text lies) and the bin tables of
// the character and paragraph formatting pages. Text holds no NUL, every
// formatting page lists ascending offsets that begin where its bin table
// says, and every paragraph a paragraph page lists ends with a paragraph's
// end in the text; zeros or foreign bytes standing in for a lost piece of the stream
// nearly always break one of them. Each check gives an empty string when
// the streams hold together (or there is nothing to check them by) and
// otherwise why not.
class CWordDocumentCheck
{
    Q_DECLARE_TR_FUNCTIONS(CWordDocumentCheck)

public:
    // Whether the stream begins with a file information block at all (any
    // Word version from 6 on).
    static bool hasFib(const QByteArray& word);
    // The text named by the piece table (Word 97 and later).
    static QString textFault(const QByteArray& word, const QByteArray& table0, const QByteArray& table1);
    // The character and paragraph formatting pages, and the paragraph ends
    // they name in the text (Word 97 and later).
    static QString formattingFault(const QByteArray& word, const QByteArray& table0, const QByteArray& table1);

    // A place in the WordDocument stream whose bytes the tables foretell:
    // the first offset a formatting page lists (what its bin table says),
    // or the character that ends a paragraph a paragraph page lists.
    struct Landmark
    {
        enum Kind
        {
            PageStart,
            ParagraphEnd,
            Identifier, // the information block's first two bytes
        };
        Kind kind;
        uint32_t offset; // in the stream
        int width;       // bytes
        uint32_t value;  // a page's first offset
        int weight;      // how much it says: a page's four bytes more than one mark
    };
    // Every landmark the tables give, the formatting pages read from
    // `pages` (the same stream, perhaps read through other pieces); a
    // paragraph page whose own bytes do not hold there gives none of its
    // paragraph ends. Used to tell where a lost piece of the stream lies
    // from the pieces at hand.
    static QVector<Landmark> landmarks(const QByteArray& word, const QByteArray& table0, const QByteArray& table1,
                                       const QByteArray& pages);
    // The information block's identifier at the head of the stream (Word 97
    // and later): a landmark that needs no tables.
    static Landmark identifier();
    // Whether the bytes at `at` (`mark.width` of them) are what it says.
    static bool holds(const Landmark& mark, const uint8_t* at);
};
