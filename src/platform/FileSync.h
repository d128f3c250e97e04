// Flushing an open file's data to the storage device, with the error reported.
#pragma once

#include <QString>

// handle is the small integer of QFileDevice::handle(). True when the file's data reached the
// device; false (with errorText set) when the system reports a failure, such as a full disk
// whose space ran out while cached data was written back.
bool SyncFileToDisk(int handle, QString &errorText);
