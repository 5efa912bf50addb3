#pragma once

#include "platform/platform.h"
#include "platform/types.h"

namespace clipfile::message {

// Every text the tool prints, each written once in messages.cpp; the manual
// page lists them all (tools/check-manual.sh reads that file). Each function
// prints its message to standard output.

// Printed to standard error, before any platform exists.
extern const char kFrameworkFailed[];
// CLIPFILE_CLIPBOARD names no clipboard this build knows.
extern const char kUnknownClipboardChoice[];

// The command line.
void InvalidArguments(Platform& platform);
void WrongArgumentCount(Platform& platform);

// GETTYPES and the format snapshot every command takes.
void SnapshotOpenFailed(Platform& platform);
void FormatsNotRetrieved(Platform& platform);
void ClipboardEmpty(Platform& platform);
void FormatListHeading(Platform& platform);
void FormatListEntry(Platform& platform, const char* name, FormatId id);
void FormatListEnd(Platform& platform);

// GETDATA.
void FormatNotAvailable(Platform& platform, const char* formatName);
void DataFormatMissing(Platform& platform);
void CopyOpenFailed(Platform& platform);
void InvalidDataHandle(Platform& platform);
void DataLockFailed(Platform& platform);
void CopyAllocationFailed(Platform& platform);
void OutputOpenFailed(Platform& platform, const char* path);
void OutputWriteFailed(Platform& platform);
void GetDataSucceeded(Platform& platform, const char* path);
void GetDataFailed(Platform& platform, const char* path);

// GETDATA of a bitmap.
void NoBitmapOnClipboard(Platform& platform);
void BitmapOpenFailed(Platform& platform);
void BitmapDescribeFailed(Platform& platform);
void BitmapTooLarge(Platform& platform);
void BitmapHeaderAllocationFailed(Platform& platform);
void PixelAllocationFailed(Platform& platform);
void DibBitsFailed(Platform& platform);
void BitmapFileCreateFailed(Platform& platform, const char* path);
void FileHeaderWriteFailed(Platform& platform, const char* path);
void InfoHeaderWriteFailed(Platform& platform, const char* path);
void PixelWriteFailed(Platform& platform, const char* path);
void BitmapFileCloseFailed(Platform& platform);

// PUTDATA.
void InputOpenFailed(Platform& platform, const char* path);
void InputReadFailed(Platform& platform);
void BlockAllocationFailed(Platform& platform);
void RegisterFailed(Platform& platform, const char* formatName);
void PlaceOpenFailed(Platform& platform);
void EmptyFailed(Platform& platform);
void PlaceFailed(Platform& platform);
void PutDataSucceeded(Platform& platform, const char* path);
void PutDataFailed(Platform& platform, const char* path);

// PUTDATA of a bitmap.
void BitmapHeaderReadFailed(Platform& platform, const char* path);
void NotABitmap(Platform& platform);
void UnsupportedBitmap(Platform& platform, const char* path);
void BitmapCreateFailed(Platform& platform, const char* path);

}  // namespace clipfile::message
