#include "platform/messages.h"

#include "platform/print.h"

namespace clipfile::message {

const char kFrameworkFailed[] = "Fatal Error: MFC initialization failed\n";
const char kUnknownClipboardChoice[] =
    "clipfile: CLIPFILE_CLIPBOARD must be x11, portable or auto\n";

void InvalidArguments(Platform& platform) {
    Print(platform, "\n\n * Arguments Passed to the application are not Valid. * \n");
}
void WrongArgumentCount(Platform& platform) {
    Print(platform, "\n\n * Invalid number of arguments passed to the application. * \n");
}

void SnapshotOpenFailed(Platform& platform) {
    Print(platform, "\n * Unable to open the Clipboard. * \n");
}
void FormatsNotRetrieved(Platform& platform) {
    Print(platform, "\n * Couldn't able to retrieve the Clipboard Formats. * \n");
}
void ClipboardEmpty(Platform& platform) { Print(platform, "\n\nClipboard is Empty.\n\n"); }
void FormatListHeading(Platform& platform) {
    Print(platform,
          "\n\nClipboard Formats are :\n\n\tFormat Type - [Value]\n\t---------------------\n");
}
void FormatListEntry(Platform& platform, const char* name, FormatId id) {
    Print(platform, "\n\t%s - [%u]", name, static_cast<unsigned>(id));
}
void FormatListEnd(Platform& platform) { Print(platform, "\n"); }

void FormatNotAvailable(Platform& platform, const char* formatName) {
    Print(platform, "\n ! Specified Format \"%s\" is not available on the Clipboard. ! \n",
          formatName);
}
void DataFormatMissing(Platform& platform) {
    Print(platform, "\n * Clipboard doesn't contain the data of specified format. *\n");
}
void CopyOpenFailed(Platform& platform) {
    Print(platform, "\n * Couldn't able open the clipboard. *\n");
}
void InvalidDataHandle(Platform& platform) {
    Print(platform, "\n * Retrieved an invalid handle from the clipboard. *\n");
}
void DataLockFailed(Platform& platform) {
    Print(platform, "\n * Couldn't able to lock the data * \n");
}
void CopyAllocationFailed(Platform& platform) {
    Print(platform, "\n * Unable to allocate memory for the data. * \n");
}
void OutputOpenFailed(Platform& platform, const char* path) {
    Print(platform, "\n * Error whle opening the \"%s\" file. * \n", path);
}
void OutputWriteFailed(Platform& platform) {
    Print(platform, "\n * Variation in bytes copied into the file. * \n");
}
void GetDataSucceeded(Platform& platform, const char* path) {
    Print(platform, "\n\nClipboard Contents were Successfully copied into the \"%s\" File\n", path);
}
void GetDataFailed(Platform& platform, const char* path) {
    Print(platform,
          "\n\n * Couldn't able to transfer the contents of clipboard into \"%s\" file. * \n",
          path);
}

void NoBitmapOnClipboard(Platform& platform) {
    Print(platform,
          "\n * Clipboard doesn't contain the specified type. * \n"
          " * Please Copy an image to clipboard. *\n");
}
void BitmapOpenFailed(Platform& platform) {
    Print(platform, "\n * Error while opening the Clipboard. * \n");
}
void BitmapDescribeFailed(Platform& platform) {
    Print(platform, "\n * Error while gathering the data from the bitmap handle. *\n");
}
void BitmapTooLarge(Platform& platform) {
    Print(platform,
          "\n * The bitmap on the Clipboard is too large to be written as a BMP file. * \n");
}
void BitmapHeaderAllocationFailed(Platform& platform) {
    Print(platform, "\n * Error while allocating memory for the bitmap header. * \n");
}
void PixelAllocationFailed(Platform& platform) {
    Print(platform, "\n * Error while allocating memory pointer. *\n");
}
void DibBitsFailed(Platform& platform) { Print(platform, "\nError while gathering DIB bits.\n"); }
void BitmapFileCreateFailed(Platform& platform, const char* path) {
    Print(platform, "\n * Error while Creating the \"%s\" File. * \n", path);
}
void FileHeaderWriteFailed(Platform& platform, const char* path) {
    Print(platform, "\n * Error while Writing BITMAPFILEHEADER into the \"%s\" file. * \n", path);
}
void InfoHeaderWriteFailed(Platform& platform, const char* path) {
    Print(platform, "\n * Error while writing the BITMAPINFOHEADER into the \"%s\" file. * \n",
          path);
}
void PixelWriteFailed(Platform& platform, const char* path) {
    Print(platform, "\n * Error while writing the color indices into the \"%s\" file. * \n", path);
}
void BitmapFileCloseFailed(Platform& platform) {
    Print(platform, "\n * Error while Closing the file handle. * \n");
}

void InputOpenFailed(Platform& platform, const char* path) {
    Print(platform, "\n * Error while reading the \"%s\" file * \n", path);
}
void InputReadFailed(Platform& platform) {
    Print(platform, "\n * Error while reading the bits from Global Memory. * \n");
}
void BlockAllocationFailed(Platform& platform) {
    Print(platform, "\n * Error while allocating the Global Memory. * \n");
}
void RegisterFailed(Platform& platform, const char* formatName) {
    Print(platform, "\n * Couldn't able to register the \"%s\" Clipboard Format. * \n", formatName);
}
void PlaceOpenFailed(Platform& platform) {
    Print(platform, "\n * Couldn't able to open the Clipboard. * \n");
}
void EmptyFailed(Platform& platform) {
    Print(platform, "\n * Couldn't able to Clear the Clipboard Contents. * \n");
}
void PlaceFailed(Platform& platform) {
    Print(platform, "\n * Couldn't able to place the data on the Clipboard. * \n");
}
void PutDataSucceeded(Platform& platform, const char* path) {
    Print(platform, "\n\n\"%s\" File contents were Successfully copied into the Clipboard.\n",
          path);
}
void PutDataFailed(Platform& platform, const char* path) {
    Print(platform,
          "\n\n * Couldn't able to transfer the contents of \"%s\" file into Clipboard. * \n",
          path);
}

void BitmapHeaderReadFailed(Platform& platform, const char* path) {
    Print(platform, "\n * Error while gathering the bits from the \"%s\" file. * \n", path);
}
void NotABitmap(Platform& platform) {
    Print(platform, "\n * Image is not a bitmap.\nPlease load a .BMP file. * \n");
}
void UnsupportedBitmap(Platform& platform, const char* path) {
    Print(platform, "\n * The \"%s\" file is not a supported or complete bitmap. * \n", path);
}
void BitmapCreateFailed(Platform& platform, const char* path) {
    Print(platform, "\n * Error while creating the bitmap from the \"%s\" file. * \n", path);
}

}  // namespace clipfile::message
