#include "series/jpeg_check.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>

// jpeglib.h needs the definitions of stdio.h (FILE, size_t) before it.
#include <jpeglib.h>

namespace meravel {

namespace {

// libjpeg reports errors through error_exit and warnings through emit_message with level -1;
// both jump back with the decoder's text kept. Higher levels are trace messages, ignored.
struct RecordingErrorManager {
  jpeg_error_mgr manager;
  std::jmp_buf back;
  char text[JMSG_LENGTH_MAX];
};

void keep_and_jump(j_common_ptr info) {
  RecordingErrorManager* errors = reinterpret_cast<RecordingErrorManager*>(info->err);
  (*info->err->format_message)(info, errors->text);
  std::longjmp(errors->back, 1);
}

void warning_is_error(j_common_ptr info, int level) {
  if (level < 0) keep_and_jump(info);
}

void no_message(j_common_ptr) {}

}  // namespace

std::string jpeg_data_problem(const std::vector<unsigned char>& bytes) {
  // Only plain C objects live between setjmp and longjmp, so the jump skips no destructor.
  jpeg_decompress_struct info;
  RecordingErrorManager errors;
  errors.text[0] = '\0';
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = keep_and_jump;
  errors.manager.emit_message = warning_is_error;
  errors.manager.output_message = no_message;
  if (setjmp(errors.back)) {
    jpeg_destroy_decompress(&info);
    return std::string("the image data is damaged (") + errors.text + ")";
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);

  if (!info.arith_code) {
    std::uint64_t blocks = 0;
    for (int c = 0; c < info.num_components; ++c) {
      blocks +=
          std::uint64_t{info.comp_info[c].width_in_blocks} * info.comp_info[c].height_in_blocks;
    }
    const std::uint64_t least_bytes = blocks / 8;
    if (bytes.size() < least_bytes) {
      const std::string claimed =
          std::to_string(info.image_width) + " x " + std::to_string(info.image_height);
      jpeg_destroy_decompress(&info);
      return "its header claims " + claimed + " pixels, which take at least " +
             std::to_string(least_bytes) + " bytes, but the file has " +
             std::to_string(bytes.size()) + " (damaged or forged)";
    }
  }

  info.scale_num = 1;
  info.scale_denom = 8;
  // Grey skips the colour conversion; other colour spaces (CMYK) keep theirs, which the decoder
  // can always produce.
  if (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_GRAYSCALE)
    info.out_color_space = JCS_GRAYSCALE;
  info.dct_method = JDCT_IFAST;
  jpeg_start_decompress(&info);
  // The row comes from the decoder's own pool, which jpeg_destroy_decompress frees after a jump.
  JSAMPARRAY rows = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                              info.output_width * info.output_components, 1);
  while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, rows, 1);
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return "";
}

}  // namespace meravel
