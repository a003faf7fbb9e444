#pragma once

class CPartitionInfo;

// How a page asks the main window to be replaced by the other page. Page 1
// is the disk choice page (no partition); any other page number is the scan
// and result page for `partition`, which the main window copies before use
// (the caller keeps ownership).
class ITransPage
{
public:
    virtual ~ITransPage() = default;
    virtual void switchPage(int page, const CPartitionInfo* partition) = 0;
};
