#pragma once

class CPartitionInfo;

// How a page asks the main window to be replaced by another page. Page 1
// is the disk choice page (no partition); kImagingPage copies `partition`
// into a disk image first (asking where); any other page number is the
// scan and result page for `partition`. The main window copies `partition`
// before use (the caller keeps ownership).
class ITransPage
{
public:
    static constexpr int kImagingPage = 3;
    virtual ~ITransPage() = default;
    virtual void switchPage(int page, const CPartitionInfo* partition) = 0;
};
