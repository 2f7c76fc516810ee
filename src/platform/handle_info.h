// Questions and requests about an open file, as its volume answers them. The fault-injection
// build answers as a FAT32 or exFAT volume when ORV_FAULT_FILE_SYSTEM=fat: Wine answers every
// request on any Linux file system, so only this shows how the program copes with those.
#pragma once

#include "platform/windows_headers.h"

// GetFileInformationByHandleEx and SetFileInformationByHandle.
BOOL query_handle_info(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info, DWORD size);
BOOL set_handle_info(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info, DWORD size);

// Whether `error` says that the volume or the system does not offer the request at all (FAT32
// and exFAT, Windows before 10 1709, Wine): the caller takes the classic way instead.
bool request_refused(DWORD error);
