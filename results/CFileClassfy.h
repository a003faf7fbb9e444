#pragma once

#include <QList>
#include <QString>

// A type node: what the tree builder tells the result page about one file
// type (its label, code and number of files), and a row of the tree model.
// The tree model links nodes through parentNode/childNodes; destroying a
// node does not destroy its children (the model owns them all).
class CFileClassfy
{
public:
    CFileClassfy(const QString& label, int typeCode, int fileCount, CFileClassfy* parentNode = nullptr);

    CFileClassfy(const CFileClassfy&) = delete;
    CFileClassfy& operator=(const CFileClassfy&) = delete;

    QString label;
    // Not owned. Building a node with a parent does not add it to the
    // parent's childNodes.
    CFileClassfy* parentNode = nullptr;
    QList<CFileClassfy*> childNodes;
    // A type code, or -1 for the tree model's two root rows.
    int typeCode = 0;
    // Qt::CheckState shown for the row: 0, 1 or 2.
    int checkState = 0;
    int fileCount = 0;
};
