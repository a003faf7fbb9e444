#pragma once

#include <QString>

// A node of the found-file tree, as its owners see it: they ask for its
// names and delete it through this interface (a whole subtree goes with
// its top node). Every node of a CCreateTreeNode tree is a CFileNodeItem.
class INode
{
public:
    virtual ~INode() = default;

    // Base name of the document without extension ("2048").
    virtual QString name() const = 0;
    // Upper-case type name, also the extension ("PDF").
    virtual QString typeName() const = 0;
};
