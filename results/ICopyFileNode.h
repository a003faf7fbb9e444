#pragma once

#include <QList>

class CFileClassfy;
class INode;

// How the tree builder talks to the result page. All three are called on
// the interface thread.
class ICopyFileNode
{
public:
    virtual ~ICopyFileNode() = default;

    // A document was added to a type. For a type seen for the first time
    // `node` is a new heap object with fileCount 1 and the receiver owns it
    // from now on (CResultRefresher::typeNodeChanged takes it, or
    // CFileNodeModel::updateTypeNode keeps it as the row); for a known type
    // it is a temporary (fileCount 2 or more), valid only during the call.
    virtual void typeNodeChanged(CFileClassfy* node) = 0;

    // The answer to CCreateTreeNode::startLookup: the children list of the
    // requested type item, a pointer into the tree (not a copy) that stays
    // valid as long as the tree builder lives.
    virtual void setFileList(QList<INode*>* files) = 0;

    virtual void hideRecoveryDialog() = 0;
};
