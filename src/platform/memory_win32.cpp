// Page size on Windows; large pages there need a privilege, so none are asked for.
#include "platform/Memory.h"

#include <windows.h>

std::size_t MemoryPageSize()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

void AdviseLargePages(void *, std::size_t)
{
}
