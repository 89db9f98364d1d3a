// JPEG through libjpeg-turbo. Its errors arrive by longjmp, so the function
// that calls into it holds nothing with a destructor; what must outlive a
// jump lives in a record owned by the caller.
#include <cstdio>  // jpeglib.h needs FILE and size_t first

#include <jpeglib.h>

#include <csetjmp>
#include <memory>

#include "core/picture_codecs.h"
#include "core/work_progress.h"

namespace lumadrift::codec {

namespace {

// A progressive stream may hold any number of scans, each a pass over the
// whole picture; real files have a dozen or so.
constexpr int kMaxScans = 500;

struct JpegRead {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    int warnings = 0;
    int64_t maxPixels = 0;
    BmpError error = BmpError::kBadPictureData;
    LoadedBmp result;
};

JpegRead& Record(j_common_ptr cinfo)
{
    return *static_cast<JpegRead*>(cinfo->client_data);
}

[[noreturn]] void JpegFail(j_common_ptr cinfo)
{
    std::longjmp(Record(cinfo).jump, 1);
}

void JpegMessage(j_common_ptr cinfo, int level)
{
    // Level -1 is a warning about the data (a cut or damaged stream);
    // higher levels are trace messages.
    if (level < 0)
        ++Record(cinfo).warnings;
}

void JpegSilent(j_common_ptr) {}

void JpegProgress(j_common_ptr cinfo)
{
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans)
        std::longjmp(Record(cinfo).jump, 1);
}

bool DecodeJpeg(JpegRead& r, const uint8_t* data, size_t size)
{
    if (setjmp(r.jump))
        return false;
    jpeg_mem_src(&r.cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&r.cinfo, TRUE) != JPEG_HEADER_OK)
        return false;
    if (BmpError e = CheckSize(r.cinfo.image_width, r.cinfo.image_height, r.maxPixels);
        e != BmpError::kNone) {
        r.error = e;
        return false;
    }
    const bool gray = r.cinfo.jpeg_color_space == JCS_GRAYSCALE;
    if (r.cinfo.jpeg_color_space == JCS_CMYK || r.cinfo.jpeg_color_space == JCS_YCCK) {
        r.error = BmpError::kUnsupportedPicture;
        return false;
    }
    r.cinfo.out_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_start_decompress(&r.cinfo);
    const int width = static_cast<int>(r.cinfo.output_width);
    const int height = static_cast<int>(r.cinfo.output_height);
    if (r.cinfo.output_components != (gray ? 1 : 3) || width != static_cast<int>(r.cinfo.image_width) ||
        height != static_cast<int>(r.cinfo.image_height))
        return false;
    uint8_t* pixels = StartCanonicalDib(r.result, width, height, gray ? 8 : 24);
    const size_t stride = DibStride(width, gray ? 8 : 24);
    while (r.cinfo.output_scanline < r.cinfo.output_height) {
        JSAMPROW row = pixels + static_cast<size_t>(height - 1 - static_cast<int>(r.cinfo.output_scanline)) * stride;
        if (jpeg_read_scanlines(&r.cinfo, &row, 1) != 1)
            return false;
        if ((r.cinfo.output_scanline & 255) == 0)
            WorkTick();
    }
    jpeg_finish_decompress(&r.cinfo);
    return r.warnings == 0;
}

}  // namespace

BmpError ReadJpeg(const uint8_t* data, size_t size, int64_t maxPixels, LoadedBmp& out)
{
    auto r = std::make_unique<JpegRead>();
    r->maxPixels = maxPixels;
    r->cinfo.client_data = r.get();
    r->cinfo.err = jpeg_std_error(&r->err);
    r->err.error_exit = JpegFail;
    r->err.emit_message = JpegMessage;
    r->err.output_message = JpegSilent;
    if (setjmp(r->jump)) {
        // Only jpeg_create_decompress can jump here: nothing was set up.
        return BmpError::kBadPictureData;
    }
    jpeg_create_decompress(&r->cinfo);
    r->progress.progress_monitor = JpegProgress;
    r->cinfo.progress = &r->progress;
    const bool ok = DecodeJpeg(*r, data, size);
    jpeg_destroy_decompress(&r->cinfo);
    if (!ok)
        return r->error;
    out = std::move(r->result);
    return BmpError::kNone;
}

}  // namespace lumadrift::codec
