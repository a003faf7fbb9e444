#pragma once

#include <QDateTime>
#include <QString>

// What a document says about itself (its title, author, times and page
// count, from the document's own metadata) and whether its structure holds
// together. Filled by the details pass after the document was found; a
// plain value that travels inside CFileNode.
class CDocumentDetails
{
public:
    enum Integrity : int
    {
        IntegrityUnchecked = 0, // not looked at, or could not be judged within the budget
        IntegrityWhole = 1,     // every check the format allows passed
        IntegrityDamaged = 2,   // a check failed; integrityReason says the first one
    };

    // The pass has looked at the document (whatever it found).
    bool examined = false;
    // The document's metadata was read (false: "no details").
    bool found = false;
    QString title;
    QString author;
    QDateTime created;
    QDateTime modified;
    // Pages, slides or sheets; -1 when unknown.
    int pages = -1;
    int integrity = IntegrityUnchecked;
    // Why the document is damaged, or why it was not checked.
    QString integrityReason;

    bool operator==(const CDocumentDetails& o) const
    {
        return examined == o.examined && found == o.found && title == o.title && author == o.author
            && created == o.created && modified == o.modified && pages == o.pages && integrity == o.integrity
            && integrityReason == o.integrityReason;
    }
    bool operator!=(const CDocumentDetails& o) const { return !(*this == o); }
};
