// JPEG decoding and encoding with libjpeg-turbo, over bytes in memory.
//
// libjpeg reports fatal errors by calling error_exit, which must not return;
// here it notes the reason its message stands for and longjmps back to the
// one function that called setjmp. Those functions hold only plain C data in
// their own frame: the codec state and anything with a destructor live in
// the caller's frame (JpegReader, JpegWriter), whose destructor always
// destroys the libjpeg object, so a longjmp never skips a C++ destructor.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// jpeglib.h uses size_t and FILE without including <cstdio> itself.
#include <jpeglib.h>
// After jpeglib.h, whose configuration decides which messages exist.
#include <jerror.h>

#include "codecs.h"

namespace pagetrim::codecs {

namespace {

// Rows handed to libjpeg per call; its SIMD paths work on a few rows at once.
constexpr int RowBatch = 16;

// The worst case within the pixel limit is a progressive four-component file,
// whose coefficient buffer takes two bytes per sample: 2 GiB. Anything a file
// asks for beyond that plus working room is refused.
constexpr long MaxCodecMemory = long(MaxPixels * 4 * sizeof(JCOEF)) + (64L << 20);

// A progressive file can hold any number of tiny scans, each one costing a
// full pass over the coefficients. Encoders write about ten, and the most
// elaborate scan scripts a few dozen.
constexpr int MaxScans = 40;

// Every 8 x 8 block of a Huffman-coded picture costs at least one bit in its
// component's scans, so a file must hold an eighth of a byte per block.
// Half of that is refused as far too small: such a file declares a picture
// its data cannot hold, and decoding it would only allocate and fill a page
// of gray. Arithmetic coding can make a blank block almost free, so there the
// rule is only against the absurd.
constexpr std::uint64_t HuffmanBlocksPerByte = 16;
constexpr std::uint64_t ArithmeticBlocksPerByte = 4096;

struct JpegErrors {
  jpeg_error_mgr Base;
  std::jmp_buf Jump;
  const std::atomic<bool>* Cancel = nullptr;
  // Why the jump was made.
  Reason Why;
  // The reason of a libjpeg error that says nothing of memory, size or the
  // kind of file: a damaged file when reading, a refusal when writing.
  Reason Otherwise;
};

[[noreturn]] void JumpOut(j_common_ptr info, Reason why) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  errors->Why = why;
  std::longjmp(errors->Jump, 1);
}

// What a libjpeg error stands for.
Reason ReasonOfError(int code, Reason otherwise) {
  switch (code) {
    case JERR_OUT_OF_MEMORY:
      return Reason::OutOfMemory;
    // Beyond the memory limit (max_memory_to_use, which no page of an
    // allowed size needs), or beyond the sides JPEG can hold.
    case JERR_NO_BACKING_STORE:
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
      return Reason::ImageTooLarge;
    // Kinds of JPEG file that this libjpeg does not decode: 12-bit samples,
    // lossless and hierarchical files, unusual colour spaces.
    case JERR_BAD_PRECISION:
    case JERR_SOF_UNSUPPORTED:
    case JERR_NOT_COMPILED:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_ARITH_NOTIMPL:
      return Reason::UnreadableImage;
    default:
      return otherwise;
  }
}

[[noreturn]] void ErrorExit(j_common_ptr info) {
  JumpOut(info,
          ReasonOfError(info->err->msg_code, reinterpret_cast<JpegErrors*>(info->err)->Otherwise));
}

// Warnings that mean the picture data is incomplete or damaged. libjpeg goes
// on after them and fills what it could not decode with gray; a batch would
// then write that gray page over the damaged file and lose what is left of
// it, so they count as undecodable.
bool MeansDamagedPicture(int code) {
  switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_NOT_SEQUENTIAL:
      return true;
    default:
      return false;
  }
}

void EmitMessage(j_common_ptr info, int level) {
  // Other warnings (stray bytes before a marker, a damaged colour profile)
  // keep the picture, and no message goes to stderr.
  if (level < 0 && MeansDamagedPicture(info->err->msg_code))
    JumpOut(info, Reason::DamagedImage);
}

void OutputNothing(j_common_ptr) {}

void InstallErrors(JpegErrors& errors, Reason otherwise) {
  jpeg_std_error(&errors.Base);
  errors.Why = Reason::None;
  errors.Otherwise = otherwise;
  errors.Base.error_exit = ErrorExit;
  errors.Base.emit_message = EmitMessage;
  errors.Base.output_message = OutputNothing;
}

// Called by libjpeg as it works through the file, so a file with too many
// scans or a read no longer wanted stops there.
void Monitor(j_common_ptr info) {
  const auto* errors = reinterpret_cast<const JpegErrors*>(info->err);
  if (errors->Cancel != nullptr && errors->Cancel->load(std::memory_order_relaxed))
    JumpOut(info, Reason::Cancelled);
  // No encoder writes so many: the file is made to cost passes, not a page.
  if (info->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > MaxScans) {
    JumpOut(info, Reason::DamagedImage);
  }
}

// ---- Resolution and orientation ---------------------------------------------

// The resolution comes from the JFIF density first, then EXIF, then nothing.
// A JFIF header whose unit is 0 only gives an aspect ratio, so it does not
// count. The orientation only EXIF can give.
ExifFacts ReadFacts(const jpeg_decompress_struct& info) {
  ExifFacts facts;
  static constexpr char ExifHeader[6] = {'E', 'x', 'i', 'f', '\0', '\0'};
  for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
    if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= sizeof(ExifHeader) &&
        std::memcmp(marker->data, ExifHeader, sizeof(ExifHeader)) == 0) {
      facts = ReadExif(marker->data + sizeof(ExifHeader), marker->data_length - sizeof(ExifHeader));
      break;
    }
  }
  if (info.saw_JFIF_marker && info.X_density > 0 && info.Y_density > 0) {
    if (info.density_unit == 1) {
      facts.Resolution = {float(info.X_density), float(info.Y_density)};
    } else if (info.density_unit == 2) {
      facts.Resolution = {float(info.X_density * 2.54), float(info.Y_density * 2.54)};
    }
  }
  return facts;
}

// ---- Decoding ---------------------------------------------------------------

// The file's bytes, handed to libjpeg a few hundred at a time. libjpeg-turbo
// decodes Huffman data on a fast path whenever enough bytes for a whole MCU
// are buffered, as they always are when the whole file is, and that path
// decodes a bad Huffman code silently as a zero instead of warning. A damaged
// page would then decode into garbage that a batch could write over the file.
// Pieces smaller than the fast path's need keep every MCU on the path that
// warns, at the cost of up to a tenth of the decoding time on noisy pages.
constexpr std::size_t SourcePiece = 256;

struct PiecewiseSource {
  jpeg_source_mgr Base;
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Offset;
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr info) {
  auto& source = *reinterpret_cast<PiecewiseSource*>(info->src);
  if (source.Offset >= source.Size) {
    // As libjpeg's own memory source does: a warning, then an end marker.
    static const JOCTET End[2] = {0xFF, JPEG_EOI};
    WARNMS(info, JWRN_JPEG_EOF);
    source.Base.next_input_byte = End;
    source.Base.bytes_in_buffer = sizeof(End);
    return TRUE;
  }
  source.Base.next_input_byte = source.Data + source.Offset;
  source.Base.bytes_in_buffer = std::min(SourcePiece, source.Size - source.Offset);
  source.Offset += source.Base.bytes_in_buffer;
  return TRUE;
}

void SkipInput(j_decompress_ptr info, long count) {
  jpeg_source_mgr& source = *info->src;
  if (count <= 0)
    return;
  while (std::size_t(count) > source.bytes_in_buffer) {
    count -= long(source.bytes_in_buffer);
    FillInput(info);
  }
  source.next_input_byte += count;
  source.bytes_in_buffer -= std::size_t(count);
}

// One whole-page array of coefficient blocks, in place of libjpeg's own
// virtual array, whose type it stands for. Made in libjpeg's image pool.
struct BlockArray {
  JBLOCKARRAY Rows;
  JDIMENSION RowCount;
  JDIMENSION BlocksPerRow;
  JDIMENSION MaxAccess;
  // Rows from here on were never written; with PreZero they read as zeros.
  JDIMENSION FirstUndefinedRow;
  boolean PreZero;
  BlockArray* Next;
};

// The block arrays a reader or writer asked for, and the page buffer that
// holds them.
struct PooledBlocks {
  BlockArray* Arrays;
  void (*RealizeOthers)(j_common_ptr);
  PageBuffer Memory;
};

struct JpegReader {
  jpeg_decompress_struct Info;
  JpegErrors Errors;
  jpeg_progress_mgr Progress;
  PiecewiseSource Source;
  PooledBlocks Blocks;
  // Destroying a zeroed, never-created object is a no-op in libjpeg; it
  // releases the pool before Blocks gives back its memory.
  ~JpegReader() { jpeg_destroy_decompress(&Info); }
};

// ---- Coefficient arrays in page buffers ----------------------------------------
//
// Copying a page's blocks holds all its coefficients at once: two bytes per
// sample, as much as a colour page's pixels. So do decoding a progressive
// page and coding a page in passes (progressive, or with Huffman tables made
// for it). libjpeg takes that memory fresh from the system for every page,
// and the system maps and zeroes it at first touch, which costs as much again
// as reading the coefficients. The arrays live in a page buffer instead, so
// that a batch reuses the same memory. They behave as libjpeg's own arrays
// held wholly in memory.

BlockArray& ArrayOf(jvirt_barray_ptr array) {
  return *reinterpret_cast<BlockArray*>(array);
}

PooledBlocks& BlocksOf(j_common_ptr info) {
  return *static_cast<PooledBlocks*>(info->client_data);
}

jvirt_barray_ptr RequestBlocks(j_common_ptr info, int pool, boolean preZero,
                               JDIMENSION blocksPerRow, JDIMENSION rowCount, JDIMENSION maxAccess) {
  if (pool != JPOOL_IMAGE)
    ERREXIT1(info, JERR_BAD_POOL_ID, pool);
  auto* array =
      static_cast<BlockArray*>((*info->mem->alloc_small)(info, JPOOL_IMAGE, sizeof(BlockArray)));
  PooledBlocks& blocks = BlocksOf(info);
  *array = {nullptr, rowCount, blocksPerRow, maxAccess, 0, preZero, blocks.Arrays};
  blocks.Arrays = array;
  return reinterpret_cast<jvirt_barray_ptr>(array);
}

bool TakeMemory(PooledBlocks& blocks, std::size_t size) {
  blocks.Memory = PageBuffer(size);
  return blocks.Memory.Bytes() != nullptr;
}

void RealizeBlocks(j_common_ptr info) {
  PooledBlocks& blocks = BlocksOf(info);
  blocks.RealizeOthers(info);
  if (blocks.Arrays == nullptr)
    return;
  // 0 sets no limit, as for libjpeg's own arrays.
  const auto limit = info->mem->max_memory_to_use > 0 ? std::size_t(info->mem->max_memory_to_use)
                                                      : std::numeric_limits<std::size_t>::max();
  // Rows start on whole blocks, and blocks on the boundaries libjpeg's SIMD
  // code assumes of its own arrays.
  constexpr std::size_t Alignment = 64;
  std::size_t size = Alignment;
  for (const BlockArray* array = blocks.Arrays; array != nullptr; array = array->Next) {
    const std::size_t bytes = std::size_t(array->RowCount) * array->BlocksPerRow * sizeof(JBLOCK);
    if (bytes > limit - size)
      ERREXIT(info, JERR_NO_BACKING_STORE);
    size += bytes;
  }
  if (!TakeMemory(blocks, size))
    ERREXIT(info, JERR_OUT_OF_MEMORY);
  const auto base = reinterpret_cast<std::uintptr_t>(blocks.Memory.Bytes());
  auto* next = reinterpret_cast<std::uint8_t*>((base + Alignment - 1) & ~(Alignment - 1));
  for (BlockArray* array = blocks.Arrays; array != nullptr; array = array->Next) {
    array->Rows = static_cast<JBLOCKARRAY>(
        (*info->mem->alloc_small)(info, JPOOL_IMAGE, array->RowCount * sizeof(JBLOCKROW)));
    for (JDIMENSION row = 0; row < array->RowCount; ++row) {
      array->Rows[row] = reinterpret_cast<JBLOCKROW>(next);
      next += std::size_t(array->BlocksPerRow) * sizeof(JBLOCK);
    }
  }
}

// As libjpeg's own access: a writer goes on where it left off, and rows not
// yet written read as zeros where the array asked for that.
JBLOCKARRAY AccessBlocks(j_common_ptr info, jvirt_barray_ptr pointer, JDIMENSION first,
                         JDIMENSION count, boolean writable) {
  BlockArray& array = ArrayOf(pointer);
  const JDIMENSION end = first + count;
  if (end > array.RowCount || end < first || count > array.MaxAccess || array.Rows == nullptr)
    ERREXIT(info, JERR_BAD_VIRTUAL_ACCESS);
  if (array.FirstUndefinedRow < end) {
    JDIMENSION undefined = array.FirstUndefinedRow;
    if (undefined < first) {
      if (writable)
        ERREXIT(info, JERR_BAD_VIRTUAL_ACCESS);
      undefined = first;
    }
    if (writable)
      array.FirstUndefinedRow = end;
    if (array.PreZero) {
      for (JDIMENSION row = undefined; row < end; ++row)
        std::memset(array.Rows[row], 0, std::size_t(array.BlocksPerRow) * sizeof(JBLOCK));
    } else if (!writable) {
      ERREXIT(info, JERR_BAD_VIRTUAL_ACCESS);
    }
  }
  return array.Rows + first;
}

// Makes a reader or writer keep the block arrays it asks for in a page
// buffer.
void PoolBlocks(j_common_ptr info, PooledBlocks& blocks) {
  jpeg_memory_mgr& memory = *info->mem;
  info->client_data = &blocks;
  blocks.RealizeOthers = memory.realize_virt_arrays;
  memory.request_virt_barray = RequestBlocks;
  memory.realize_virt_arrays = RealizeBlocks;
  memory.access_virt_barray = AccessBlocks;
}

// Gray and blue-green-red rows are decoded straight into the raster.
void ReadRows(j_decompress_ptr info, PageRaster& raster, DecodeContext& context) {
  JSAMPROW rows[RowBatch];
  while (info->output_scanline < info->output_height) {
    const JDIMENSION first = info->output_scanline;
    const JDIMENSION count = std::min<JDIMENSION>(RowBatch, info->output_height - first);
    for (JDIMENSION i = 0; i < count; ++i)
      rows[i] = raster.Row(int(first + i));
    const JDIMENSION got = jpeg_read_scanlines(info, rows, count);
    if (got == 0)
      ERREXIT(info, JERR_INPUT_EMPTY);
    context.DeliverRows(int(first), int(got));
  }
}

// libjpeg cannot turn CMYK into RGB itself. Photoshop's Adobe CMYK and YCCK
// files store inverted values (255 = no ink); files without the Adobe marker
// store plain ink amounts. Without colour management the usual conversion is
// channel = (255 - ink) * (255 - black) / 255.
void ReadCmykRows(j_decompress_ptr info, PageRaster& raster, DecodeContext& context) {
  const JDIMENSION width = info->output_width;
  JSAMPARRAY batch = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                                width * 4, RowBatch);
  const unsigned flip = info->saw_Adobe_marker ? 0 : 255;
  while (info->output_scanline < info->output_height) {
    const JDIMENSION first = info->output_scanline;
    const JDIMENSION wanted = std::min<JDIMENSION>(RowBatch, info->output_height - first);
    const JDIMENSION got = jpeg_read_scanlines(info, batch, wanted);
    if (got == 0)
      ERREXIT(info, JERR_INPUT_EMPTY);
    for (JDIMENSION i = 0; i < got; ++i) {
      const JSAMPLE* src = batch[i];
      std::uint8_t* dest = raster.Row(int(first + i));
      for (JDIMENSION x = 0; x < width; ++x, src += 4, dest += 3) {
        const unsigned cyan = src[0] ^ flip;
        const unsigned magenta = src[1] ^ flip;
        const unsigned yellow = src[2] ^ flip;
        const unsigned black = src[3] ^ flip;
        dest[0] = std::uint8_t((yellow * black + 127) / 255);
        dest[1] = std::uint8_t((magenta * black + 127) / 255);
        dest[2] = std::uint8_t((cyan * black + 127) / 255);
      }
    }
    context.DeliverRows(int(first), int(got));
  }
}

bool HoldsDeclaredPicture(const jpeg_decompress_struct& info, std::size_t size) {
  // Every component's coefficients are held, so every component's blocks
  // count.
  std::uint64_t blocks = 0;
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& component = info.comp_info[c];
    blocks += std::uint64_t(component.width_in_blocks) * component.height_in_blocks;
  }
  const std::uint64_t perByte = info.arith_code ? ArithmeticBlocksPerByte : HuffmanBlocksPerByte;
  return size >= blocks / perByte;
}

// How a gray or YCbCr file was coded, from the tables its components were
// decoded with: a table a file redefines between scans is the one in use.
// None for a sampling the encoder could not make again (a factor that does not
// divide the largest), which libjpeg refuses to decode anyway.
std::optional<JpegCoding> CodingOf(const jpeg_decompress_struct& info) {
  const bool gray = info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1;
  const bool ycc = info.jpeg_color_space == JCS_YCbCr && info.num_components == 3;
  if (!gray && !ycc)
    return std::nullopt;
  JpegCoding coding;
  coding.ComponentCount = info.num_components;
  coding.Progressive = info.progressive_mode != 0;
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& component = info.comp_info[c];
    const int slot = component.quant_tbl_no;
    if (slot < 0 || slot >= NUM_QUANT_TBLS)
      return std::nullopt;
    const JQUANT_TBL* table =
        component.quant_table != nullptr ? component.quant_table : info.quant_tbl_ptrs[slot];
    if (table == nullptr || info.max_h_samp_factor % component.h_samp_factor != 0 ||
        info.max_v_samp_factor % component.v_samp_factor != 0) {
      return std::nullopt;
    }
    // A gray file's one component is its own MCU, whatever factors it states.
    coding.Components[std::size_t(c)] = {gray ? 1 : component.h_samp_factor,
                                         gray ? 1 : component.v_samp_factor, slot};
    if (!coding.HasTable[std::size_t(slot)]) {
      std::copy_n(table->quantval, DCTSIZE2, coding.Tables[std::size_t(slot)].begin());
      coding.HasTable[std::size_t(slot)] = true;
    }
  }
  return coding;
}

// Starts a reader on the file's bytes and reads its header. Call only from a
// function that has set the reader's jump point.
void ReadHeader(JpegReader& reader, const std::uint8_t* data, std::size_t size) {
  j_decompress_ptr info = &reader.Info;
  jpeg_create_decompress(info);
  info->mem->max_memory_to_use = MaxCodecMemory;
  reader.Progress.progress_monitor = Monitor;
  info->progress = &reader.Progress;
  reader.Source = {
      {nullptr, 0, InitSource, FillInput, SkipInput, jpeg_resync_to_restart, TermSource},
      data,
      size,
      0};
  info->src = &reader.Source.Base;
  jpeg_save_markers(info, JPEG_APP0 + 1, 0xFFFF);  // EXIF: resolution, orientation
  jpeg_save_markers(info, JPEG_APP0 + 2, 0xFFFF);  // ICC profile chunks
  jpeg_read_header(info, TRUE);
}

void InstallReaderErrors(JpegReader& reader, const std::atomic<bool>* cancel) {
  InstallErrors(reader.Errors, Reason::DamagedImage);
  reader.Errors.Cancel = cancel;
  reader.Info.err = &reader.Errors.Base;
}

// What the header says besides the pixels: the EXIF resolution and
// orientation, and the colour profile.
void TakeFacts(jpeg_decompress_struct& info, DecodeContext& context) {
  const ExifFacts facts = ReadFacts(info);
  context.Resolution = facts.Resolution;
  context.Orientation = facts.Orientation;
  JOCTET* profile = nullptr;
  unsigned int profileSize = 0;
  if (jpeg_read_icc_profile(&info, &profile, &profileSize)) {
    context.IccProfile = QByteArray(reinterpret_cast<const char*>(profile), int(profileSize));
    std::free(profile);
    if (CheckIccProfile(context.IccProfile) == ProfileSpace::None)
      context.IccProfile.clear();
  }
}

// The header and what it tells of the page, or why the page is refused
// before any of it is decoded. Called under the caller's setjmp, which a
// libjpeg error returns to.
Reason ReadFacts(JpegReader& reader, const std::uint8_t* data, std::size_t size,
                 DecodeContext& context) {
  j_decompress_ptr info = &reader.Info;
  ReadHeader(reader, data, size);
  if (!SizeAllowed(info->image_width, info->image_height))
    return Reason::ImageTooLarge;
  if (!HoldsDeclaredPicture(*info, size))
    return Reason::DamagedImage;
  TakeFacts(*info, context);
  return Reason::None;
}

// Reason::None once the page is decoded.
Reason RunDecode(JpegReader& reader, const std::uint8_t* data, std::size_t size, PageRaster& raster,
                 DecodeContext& context) {
  j_decompress_ptr info = &reader.Info;
  if (setjmp(reader.Errors.Jump))
    return reader.Errors.Why;
  if (const Reason why = ReadFacts(reader, data, size, context); why != Reason::None)
    return why;

  const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
  const bool gray = info->jpeg_color_space == JCS_GRAYSCALE;
  info->out_color_space = cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
  info->dct_method = JDCT_ISLOW;
  // A progressive file is decoded from all its coefficients at once.
  PoolBlocks(reinterpret_cast<j_common_ptr>(info), reader.Blocks);
  jpeg_start_decompress(info);
  if (info->output_width != info->image_width || info->output_height != info->image_height) {
    return Reason::UnreadableImage;
  }

  if (!raster.TryResetForOverwrite(int(info->output_width), int(info->output_height),
                                   gray ? PixelFormat::Gray8 : PixelFormat::Bgr24)) {
    return Reason::OutOfMemory;
  }
  if (cmyk) {
    ReadCmykRows(info, raster, context);
  } else {
    ReadRows(info, raster, context);
  }
  // Only now has every component met its tables.
  context.Jpeg = CodingOf(*info);
  // Every row is in place; jpeg_finish_decompress would only read on to the
  // end marker, and the reader's destructor releases the state either way.
  return Reason::None;
}

Reason RunReadFacts(JpegReader& reader, const std::uint8_t* data, std::size_t size,
                    DecodeContext& context) {
  if (setjmp(reader.Errors.Jump))
    return reader.Errors.Why;
  return ReadFacts(reader, data, size, context);
}

Reason RunReadSize(JpegReader& reader, const std::uint8_t* data, std::size_t size,
                   DeclaredSize& declared) {
  if (setjmp(reader.Errors.Jump))
    return reader.Errors.Why;
  ReadHeader(reader, data, size);
  declared.Width = int(reader.Info.image_width);
  declared.Height = int(reader.Info.image_height);
  declared.Channels = reader.Info.jpeg_color_space == JCS_GRAYSCALE ? 1 : 3;
  declared.Components = reader.Info.num_components;
  declared.Progressive = reader.Info.progressive_mode != 0;
  return Reason::None;
}

// ---- Encoding ---------------------------------------------------------------

struct Destination {
  jpeg_destination_mgr Base;
  EncodedBytes* Out;
};

constexpr std::size_t DestinationChunk = std::size_t(256) << 10;

Destination& DestinationOf(j_compress_ptr info) {
  return *reinterpret_cast<Destination*>(info->dest);
}

void OfferFreeSpace(j_compress_ptr info) {
  Destination& dest = DestinationOf(info);
  if (!dest.Out->Reserve(DestinationChunk))
    ERREXIT(info, JERR_OUT_OF_MEMORY);
  dest.Base.next_output_byte = dest.Out->FreeSpace();
  dest.Base.free_in_buffer = dest.Out->FreeCount();
}

void InitDestination(j_compress_ptr info) {
  OfferFreeSpace(info);
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
  // libjpeg calls this only once everything offered has been filled.
  Destination& dest = DestinationOf(info);
  dest.Out->Commit(dest.Out->FreeCount());
  OfferFreeSpace(info);
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  Destination& dest = DestinationOf(info);
  dest.Out->Commit(dest.Out->FreeCount() - dest.Base.free_in_buffer);
}

struct JpegWriter {
  jpeg_compress_struct Info;
  JpegErrors Errors;
  Destination Dest;
  PooledBlocks Blocks;
  ~JpegWriter() { jpeg_destroy_compress(&Info); }
};

bool IsAllGray(const PageRaster& raster) {
  if (raster.Format() == PixelFormat::Gray8)
    return true;
  for (int y = 0; y < raster.Height(); ++y) {
    const std::uint8_t* p = raster.Row(y);
    const std::uint8_t* end = p + raster.RowBytes();
    unsigned difference = 0;
    for (; p != end; p += 3)
      difference |= unsigned(p[0] ^ p[1]) | unsigned(p[1] ^ p[2]);
    if (difference != 0)
      return false;
  }
  return true;
}

UINT16 Density(float dpi) {
  return UINT16(std::lround(std::min(double(dpi), 65535.0)));
}

void WriteInto(JpegWriter& writer, EncodedBytes& out) {
  writer.Dest.Base.init_destination = InitDestination;
  writer.Dest.Base.empty_output_buffer = EmptyOutputBuffer;
  writer.Dest.Base.term_destination = TermDestination;
  writer.Dest.Out = &out;
  writer.Info.dest = &writer.Dest.Base;
}

void SetDensity(j_compress_ptr info, float dpiX, float dpiY) {
  info->write_JFIF_header = TRUE;
  info->density_unit = 1;
  info->X_density = Density(dpiX);
  info->Y_density = Density(dpiY);
}

// ---- Huffman tables made for the page --------------------------------------
//
// Huffman tables made for a page's own symbols make its file about a
// twentieth smaller than the standard tables do. libjpeg makes them in a
// second pass over the whole page's coded blocks, which it keeps for that:
// twice the coding time, and two bytes per sample. Instead, the tables are
// made from a sample of the page's rows coded alone, and completed so that
// every symbol the page may hold has a code.

// A table's code lengths, or 0 for a symbol without a code.
struct HuffmanTable {
  UINT8 Bits[17];
  UINT8 Values[256];
};

// The luminance and chrominance tables, DC then AC.
struct HuffmanTables {
  HuffmanTable Dc[2];
  HuffmanTable Ac[2];
};

// Pages shorter than this are optimised whole: it costs little.
constexpr int SampledFromRows = 1024;
// One band of rows, a whole number of MCU rows, per this many rows.
constexpr int SampleBandRows = 16;
constexpr int RowsPerBand = 256;

void CopyTable(const JHUFF_TBL& from, HuffmanTable& to) {
  std::copy_n(from.bits, 17, to.Bits);
  std::copy_n(from.huffval, 256, to.Values);
}

// Optimal code lengths of at most 16 bits for the symbols' frequencies, as
// JPEG's Annex K.2 makes them; frequencies[256] reserves the all-ones code.
void MakeTable(long (&frequencies)[257], HuffmanTable& table) {
  int lengths[257] = {};
  int next[257];
  std::fill(std::begin(next), std::end(next), -1);
  for (;;) {
    // The two least frequent subtrees; merge the second into the first.
    int first = -1;
    int second = -1;
    for (int i = 0; i <= 256; ++i) {
      if (frequencies[i] == 0)
        continue;
      if (first < 0 || frequencies[i] <= frequencies[first]) {
        second = first;
        first = i;
      } else if (second < 0 || frequencies[i] <= frequencies[second]) {
        second = i;
      }
    }
    if (second < 0)
      break;
    frequencies[first] += frequencies[second];
    frequencies[second] = 0;
    for (int i = first;; i = next[i]) {
      ++lengths[i];
      if (next[i] < 0) {
        next[i] = second;
        break;
      }
    }
    for (int i = second; i >= 0; i = next[i])
      ++lengths[i];
  }
  int counts[258] = {};
  for (const int length : lengths)
    ++counts[length];
  counts[0] = 0;
  // Codes longer than 16 bits move up, a pair at a time, as K.2 says.
  for (int length = 257; length > 16; --length) {
    while (counts[length] > 0) {
      int shorter = length - 2;
      while (counts[shorter] == 0)
        --shorter;
      counts[length] -= 2;
      ++counts[length - 1];
      counts[shorter + 1] += 2;
      --counts[shorter];
    }
  }
  int longest = 16;
  while (counts[longest] == 0)
    --longest;
  --counts[longest];  // the reserved code
  table.Bits[0] = 0;
  for (int length = 1; length <= 16; ++length)
    table.Bits[length] = UINT8(counts[length]);
  int value = 0;
  for (int length = 1; length <= 257; ++length) {
    for (int symbol = 0; symbol < 256; ++symbol) {
      if (lengths[symbol] == length)
        table.Values[value++] = UINT8(symbol);
    }
  }
}

// The sample's table, with a code for every symbol a page may hold: DC sizes
// 0 to 11; AC end of block, sixteen zeros, and runs of 0 to 15 zeros before
// sizes 1 to 10. A symbol the sample did not use gets one of the longest.
void Complete(HuffmanTable& table, bool dc) {
  long frequencies[257] = {};
  int value = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < table.Bits[length]; ++i)
      frequencies[table.Values[value++]] = 1L << (17 - length);
  }
  const auto possible = [&](int symbol) {
    if (frequencies[symbol] == 0)
      frequencies[symbol] = 1;
  };
  if (dc) {
    for (int size = 0; size <= 11; ++size)
      possible(size);
  } else {
    possible(0x00);
    possible(0xF0);
    for (int run = 0; run < 16; ++run) {
      for (int size = 1; size <= 10; ++size)
        possible(run << 4 | size);
    }
  }
  frequencies[256] = 1;
  MakeTable(frequencies, table);
}

void InstallTable(JHUFF_TBL* table, const HuffmanTable& from) {
  std::copy_n(from.Bits, 17, table->bits);
  std::copy_n(from.Values, 256, table->huffval);
  table->sent_table = FALSE;
}

// Codes the page as its source was coded: the same quantization tables in
// the same slots, the same sampling, progressive or not. A gray page of a
// colour source keeps the source's luminance table.
void ApplyCoding(j_compress_ptr info, const JpegCoding& coding, bool gray) {
  for (int slot = 0; slot < NUM_QUANT_TBLS; ++slot) {
    if (!coding.HasTable[std::size_t(slot)])
      continue;
    unsigned int table[DCTSIZE2];
    std::copy_n(coding.Tables[std::size_t(slot)].begin(), DCTSIZE2, table);
    // Scale 100 keeps every value as it is; values above 255 are written as
    // 16-bit tables, as the source had them.
    jpeg_add_quant_table(info, slot, table, 100, FALSE);
  }
  for (int c = 0; c < info->num_components; ++c) {
    const JpegCoding::Component& from = coding.Components[std::size_t(c)];
    jpeg_component_info& to = info->comp_info[c];
    to.h_samp_factor = gray ? 1 : from.H;
    to.v_samp_factor = gray ? 1 : from.V;
    to.quant_tbl_no = from.Table;
  }
  if (coding.Progressive)
    jpeg_simple_progression(info);
}

// What a coding run does about Huffman tables: the standard ones, ones made
// in a second pass (kept in Made, when given), or ones made before.
struct HuffmanChoice {
  bool Optimise = false;
  HuffmanTables* Made = nullptr;
  const HuffmanTables* Use = nullptr;
};

// Reason::None once the whole file is in out.
Reason RunEncode(JpegWriter& writer, const PageRaster& raster, bool gray, float dpiX, float dpiY,
                 const QByteArray& profile, const JpegCoding* coding, HuffmanChoice huffman,
                 EncodedBytes& out) {
  j_compress_ptr info = &writer.Info;
  InstallErrors(writer.Errors, Reason::CannotEncode);
  info->err = &writer.Errors.Base;
  if (setjmp(writer.Errors.Jump))
    return writer.Errors.Why;

  jpeg_create_compress(info);
  PoolBlocks(reinterpret_cast<j_common_ptr>(info), writer.Blocks);
  WriteInto(writer, out);

  info->image_width = JDIMENSION(raster.Width());
  info->image_height = JDIMENSION(raster.Height());
  const bool grayRaster = raster.Format() == PixelFormat::Gray8;
  info->input_components = raster.BytesPerPixel();
  info->in_color_space = grayRaster ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(info);
  // libjpeg-turbo's BGR-to-gray conversion maps R = G = B = v exactly to v,
  // so a colour raster of gray pixels gives the same file as a gray raster.
  if (gray && !grayRaster)
    jpeg_set_colorspace(info, JCS_GRAYSCALE);
  if (coding != nullptr) {
    ApplyCoding(info, *coding, gray);
  } else {
    jpeg_set_quality(info, DefaultJpegQuality, TRUE);
  }
  info->dct_method = JDCT_ISLOW;
  SetDensity(info, dpiX, dpiY);
  info->optimize_coding = huffman.Optimise ? TRUE : FALSE;
  if (huffman.Use != nullptr) {
    for (int i = 0; i < 2; ++i) {
      InstallTable(info->dc_huff_tbl_ptrs[i], huffman.Use->Dc[i]);
      InstallTable(info->ac_huff_tbl_ptrs[i], huffman.Use->Ac[i]);
    }
  }

  jpeg_start_compress(info, TRUE);
  if (!profile.isEmpty()) {
    jpeg_write_icc_profile(info, reinterpret_cast<const JOCTET*>(profile.constData()),
                           unsigned(profile.size()));
  }
  JSAMPROW rows[RowBatch];
  while (info->next_scanline < info->image_height) {
    const JDIMENSION first = info->next_scanline;
    const JDIMENSION count = std::min<JDIMENSION>(RowBatch, info->image_height - first);
    // libjpeg's row type is not const, but it only reads input rows.
    for (JDIMENSION i = 0; i < count; ++i) {
      rows[i] = const_cast<JSAMPROW>(raster.Row(int(first + i)));
    }
    if (jpeg_write_scanlines(info, rows, count) == 0)
      ERREXIT(info, JERR_CANT_SUSPEND);
  }
  jpeg_finish_compress(info);
  if (huffman.Made != nullptr) {
    for (int i = 0; i < 2; ++i) {
      // A gray file makes no chrominance tables; the standard ones stand in.
      CopyTable(*info->dc_huff_tbl_ptrs[i], huffman.Made->Dc[i]);
      CopyTable(*info->ac_huff_tbl_ptrs[i], huffman.Made->Ac[i]);
    }
  }
  return Reason::None;
}

// Bands of SampleBandRows rows spread evenly over the page, each starting on
// a row of MCUs, so that they hold the blocks the page holds there; false
// without the memory for them.
bool SampleRows(const PageRaster& raster, PageRaster& sample) {
  const int bands = (raster.Height() + RowsPerBand - 1) / RowsPerBand;
  const int lastTop = (raster.Height() - SampleBandRows) / SampleBandRows;
  if (!sample.TryResetForOverwrite(raster.Width(), bands * SampleBandRows, raster.Format()))
    return false;
  for (int band = 0; band < bands; ++band) {
    const int top = lastTop * band / std::max(bands - 1, 1) * SampleBandRows;
    for (int row = 0; row < SampleBandRows; ++row) {
      std::memcpy(sample.Row(band * SampleBandRows + row), raster.Row(top + row),
                  raster.RowBytes());
    }
  }
  return true;
}

// Codes a page as its source was coded, with Huffman tables made for it.
Reason EncodeAsCoded(const PageRaster& raster, bool gray, float dpiX, float dpiY,
                     const QByteArray& profile, const JpegCoding& coding, EncodedBytes& out) {
  // A progressive file is coded in passes over the whole page anyway.
  if (coding.Progressive || raster.Height() < SampledFromRows) {
    JpegWriter writer{};
    return RunEncode(writer, raster, gray, dpiX, dpiY, profile, &coding, {true, nullptr, nullptr},
                     out);
  }
  HuffmanTables tables;
  {
    PageRaster rows;
    if (!SampleRows(raster, rows))
      return Reason::OutOfMemory;
    JpegWriter writer{};
    EncodedBytes sample;
    if (const Reason why = RunEncode(writer, rows, gray, dpiX, dpiY, {}, &coding,
                                     {true, &tables, nullptr}, sample);
        why != Reason::None) {
      return why;
    }
  }
  for (int i = 0; i < 2; ++i) {
    Complete(tables.Dc[i], true);
    Complete(tables.Ac[i], false);
  }
  JpegWriter writer{};
  return RunEncode(writer, raster, gray, dpiX, dpiY, profile, &coding, {false, nullptr, &tables},
                   out);
}

// The size in blocks of a component of a picture width x height pixels, as
// libjpeg reckons it.
JDIMENSION BlocksAcross(long pixels, int factor, int maxFactor) {
  const long unit = long(maxFactor) * DCTSIZE;
  return JDIMENSION((pixels * factor + unit - 1) / unit);
}

// ---- Huffman tables for copied blocks ------------------------------------------
//
// A copied page gets Huffman tables made for its own blocks. libjpeg makes
// them in a first pass over every block that tests coefficients one by one,
// which takes as long as reading the blocks did. The same counts come here
// from a mask of each block's nonzero coefficients, and libjpeg makes the
// tables from them as it would from its own: the file is the same, byte for
// byte.

// libjpeg's maker of optimal tables, exported by the library (and listed in
// Debian's symbols file) but declared only in a header it does not install.
extern "C" void jpeg_gen_optimal_table(j_compress_ptr info, JHUFF_TBL* table, long frequencies[]);

// Where the coefficient at each zigzag position is stored in a block.
constexpr std::array<std::uint8_t, DCTSIZE2> NaturalOf = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The zigzag position of each coefficient of a block.
constexpr std::array<std::uint8_t, DCTSIZE2> ZigzagOf = [] {
  std::array<std::uint8_t, DCTSIZE2> zigzag{};
  for (int k = 0; k < DCTSIZE2; ++k)
    zigzag[NaturalOf[std::size_t(k)]] = std::uint8_t(k);
  return zigzag;
}();

// For each byte of a block's mask in natural order, its bits in zigzag order.
struct ZigzagMasks {
  std::uint64_t Bits[8][256];
};

const ZigzagMasks& MasksInZigzag() {
  static const ZigzagMasks masks = [] {
    ZigzagMasks m{};
    for (int byte = 0; byte < 8; ++byte) {
      for (int value = 0; value < 256; ++value) {
        for (int bit = 0; bit < 8; ++bit) {
          if (value & (1 << bit))
            m.Bits[byte][value] |= std::uint64_t(1) << ZigzagOf[std::size_t(byte * 8 + bit)];
        }
      }
    }
    return m;
  }();
  return masks;
}

// The nonzero coefficients of a block, bit k for zigzag position k.
std::uint64_t NonzeroInZigzag(const JCOEF* block, const ZigzagMasks& masks) {
  std::uint64_t natural = 0;
#if defined(__SSE2__)
  // Sixteen coefficients at a time: zero or not, as one bit each.
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < DCTSIZE2; i += 16) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i + 8));
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(low, zero), _mm_cmpeq_epi16(high, zero));
    natural |= std::uint64_t(~unsigned(_mm_movemask_epi8(zeros)) & 0xFFFF) << i;
  }
#else
  for (int i = 0; i < DCTSIZE2; ++i)
    natural |= std::uint64_t(block[i] != 0) << i;
#endif
  std::uint64_t zigzag = 0;
  for (int byte = 0; byte < 8; ++byte)
    zigzag |= masks.Bits[byte][(natural >> (8 * byte)) & 0xFF];
  return zigzag;
}

int BitsOf(int value) {
  return int(std::bit_width(unsigned(value < 0 ? -value : value)));
}

// Symbol counts of the tables in use, DC then AC, by table slot.
struct SymbolCounts {
  long Dc[NUM_HUFF_TBLS][257];
  long Ac[NUM_HUFF_TBLS][257];
};

// Counts one block's symbols as libjpeg's sequential Huffman coder makes
// them; false for a coefficient too large for it, which libjpeg refuses.
bool CountBlock(const JCOEF* block, int& lastDc, long* dc, long* ac, const ZigzagMasks& masks) {
  const int dcBits = BitsOf(block[0] - lastDc);
  if (dcBits > 11)
    return false;
  ++dc[dcBits];
  lastDc = block[0];
  std::uint64_t nonzero = NonzeroInZigzag(block, masks) & ~std::uint64_t(1);
  int last = 0;
  while (nonzero != 0) {
    const int k = std::countr_zero(nonzero);
    nonzero &= nonzero - 1;
    int run = k - last - 1;
    for (; run > 15; run -= 16)
      ++ac[0xF0];
    const int bits = BitsOf(block[NaturalOf[std::size_t(k)]]);
    if (bits > 10)
      return false;
    ++ac[run << 4 | bits];
    last = k;
  }
  if (last < DCTSIZE2 - 1)
    ++ac[0];  // end of block
  return true;
}

// Counts the symbols of every block the encoder will code, in its order:
// MCU by MCU, with the blocks that pad the right and bottom MCUs coded as a
// copy of the block before's DC and no AC. One component is coded block by
// block, without padding.
bool CountSymbols(j_compress_ptr info, jvirt_barray_ptr* arrays, SymbolCounts& counts) {
  const ZigzagMasks& masks = MasksInZigzag();
  const int components = info->num_components;
  int maxH = 1, maxV = 1;
  for (int c = 0; c < components; ++c) {
    maxH = std::max(maxH, info->comp_info[c].h_samp_factor);
    maxV = std::max(maxV, info->comp_info[c].v_samp_factor);
  }
  const long width = long(info->image_width);
  const long height = long(info->image_height);
  int lastDc[MAX_COMPONENTS] = {};
  if (components == 1) {
    const jpeg_component_info& component = info->comp_info[0];
    const JDIMENSION across = BlocksAcross(width, 1, 1);
    const JDIMENSION down = BlocksAcross(height, 1, 1);
    const BlockArray& array = ArrayOf(arrays[0]);
    for (JDIMENSION row = 0; row < down; ++row) {
      for (JDIMENSION column = 0; column < across; ++column) {
        if (!CountBlock(array.Rows[row][column], lastDc[0], counts.Dc[component.dc_tbl_no],
                        counts.Ac[component.ac_tbl_no], masks)) {
          return false;
        }
      }
    }
    return true;
  }
  const JDIMENSION mcuAcross = BlocksAcross(width, 1, maxH);
  const JDIMENSION mcuDown = BlocksAcross(height, 1, maxV);
  for (JDIMENSION mcuRow = 0; mcuRow < mcuDown; ++mcuRow) {
    for (JDIMENSION mcu = 0; mcu < mcuAcross; ++mcu) {
      for (int c = 0; c < components; ++c) {
        const jpeg_component_info& component = info->comp_info[c];
        const int h = component.h_samp_factor;
        const int v = component.v_samp_factor;
        const JDIMENSION across = BlocksAcross(width, h, maxH);
        const JDIMENSION down = BlocksAcross(height, v, maxV);
        long* dc = counts.Dc[component.dc_tbl_no];
        long* ac = counts.Ac[component.ac_tbl_no];
        const BlockArray& array = ArrayOf(arrays[c]);
        for (int y = 0; y < v; ++y) {
          const JDIMENSION row = mcuRow * JDIMENSION(v) + JDIMENSION(y);
          int x = 0;
          if (row < down) {
            for (; x < h && mcu * JDIMENSION(h) + JDIMENSION(x) < across; ++x) {
              if (!CountBlock(array.Rows[row][mcu * JDIMENSION(h) + JDIMENSION(x)], lastDc[c], dc,
                              ac, masks)) {
                return false;
              }
            }
          }
          // Padding: the DC of the block before, so no difference, and no AC.
          dc[0] += h - x;
          ac[0] += h - x;
        }
      }
    }
  }
  return true;
}

// Installs tables made for the page's blocks, for a sequential file, in
// place of a first pass of the encoder; false leaves it to that pass.
bool InstallTablesForBlocks(j_compress_ptr info, jvirt_barray_ptr* arrays) {
  SymbolCounts counts{};
  if (!CountSymbols(info, arrays, counts))
    return false;
  bool dcDone[NUM_HUFF_TBLS] = {};
  bool acDone[NUM_HUFF_TBLS] = {};
  for (int c = 0; c < info->num_components; ++c) {
    const int dc = info->comp_info[c].dc_tbl_no;
    const int ac = info->comp_info[c].ac_tbl_no;
    if (!dcDone[dc]) {
      if (info->dc_huff_tbl_ptrs[dc] == nullptr)
        info->dc_huff_tbl_ptrs[dc] = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(info));
      jpeg_gen_optimal_table(info, info->dc_huff_tbl_ptrs[dc], counts.Dc[dc]);
      dcDone[dc] = true;
    }
    if (!acDone[ac]) {
      if (info->ac_huff_tbl_ptrs[ac] == nullptr)
        info->ac_huff_tbl_ptrs[ac] = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(info));
      jpeg_gen_optimal_table(info, info->ac_huff_tbl_ptrs[ac], counts.Ac[ac]);
      acDone[ac] = true;
    }
  }
  return true;
}

// Reason::None once the copy is in out.
// The page at an eighth of its size, each pixel the mean of the 8 x 8 pixels
// it stands for: its blocks' DC coefficients, in the colour of the page.
void MakePreview(j_decompress_ptr source, jvirt_barray_ptr* arrays, bool gray, int maxH, int maxV,
                 PageRaster& preview) {
  const int width = int((source->image_width + 7) / 8);
  const int height = int((source->image_height + 7) / 8);
  if (!preview.TryResetForOverwrite(width, height,
                                    gray ? PixelFormat::Gray8 : PixelFormat::Bgr24)) {
    preview = PageRaster();
    return;
  }
  const int components = gray ? 1 : 3;
  for (int y = 0; y < height; ++y) {
    JBLOCKROW rows[3];
    int across[3];
    double scale[3];
    for (int c = 0; c < components; ++c) {
      const jpeg_component_info& component = source->comp_info[c];
      const int v = gray ? 1 : component.v_samp_factor;
      const int h = gray ? 1 : component.h_samp_factor;
      rows[c] = (*source->mem->access_virt_barray)(
          reinterpret_cast<j_common_ptr>(source), arrays[c], JDIMENSION(y * v / maxV), 1, FALSE)[0];
      across[c] = h;
      // A block's DC coefficient is eight times the mean of its level-shifted
      // samples.
      scale[c] = component.quant_table != nullptr ? component.quant_table->quantval[0] / 8.0 : 0;
    }
    std::uint8_t* out = preview.Row(y);
    const auto mean = [&](int c, int x) {
      return rows[c][x * across[c] / maxH][0] * scale[c] + 128.0;
    };
    const auto byte = [](double v) { return std::uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
    for (int x = 0; x < width; ++x) {
      if (gray) {
        out[x] = byte(mean(0, x));
        continue;
      }
      const double luma = mean(0, x), cb = mean(1, x) - 128.0, cr = mean(2, x) - 128.0;
      out[3 * x] = byte(luma + 1.772 * cb);
      out[3 * x + 1] = byte(luma - 0.344136 * cb - 0.714136 * cr);
      out[3 * x + 2] = byte(luma + 1.402 * cr);
    }
  }
}

Reason RunCopy(JpegReader& reader, JpegWriter& writer, const std::uint8_t* data, std::size_t size,
               const Rect& cut, float dpiX, float dpiY, const QByteArray& profile,
               EncodedBytes& out, PageRaster* preview) {
  j_decompress_ptr source = &reader.Info;
  j_compress_ptr info = &writer.Info;
  // One error manager for both: any failure comes back here. The bytes read
  // are the likelier culprit, so errors say nothing more than the reader's.
  info->err = &reader.Errors.Base;
  if (setjmp(reader.Errors.Jump))
    return reader.Errors.Why;
  ReadHeader(reader, data, size);
  // The decoder's own limits, word for word.
  if (!SizeAllowed(source->image_width, source->image_height))
    return Reason::ImageTooLarge;
  if (!HoldsDeclaredPicture(*source, size))
    return Reason::DamagedImage;
  const bool gray = source->jpeg_color_space == JCS_GRAYSCALE && source->num_components == 1;
  const bool ycc = source->jpeg_color_space == JCS_YCbCr && source->num_components == 3;
  if (!gray && !ycc)
    return Reason::CannotEncode;
  const int maxH = gray ? 1 : source->max_h_samp_factor;
  const int maxV = gray ? 1 : source->max_v_samp_factor;
  if (cut.Left < 0 || cut.Top < 0 || cut.Width() <= 0 || cut.Height() <= 0 ||
      JDIMENSION(cut.Right) > source->image_width ||
      JDIMENSION(cut.Bottom) > source->image_height || cut.Left % (maxH * DCTSIZE) != 0 ||
      cut.Top % (maxV * DCTSIZE) != 0) {
    return Reason::CannotEncode;
  }
  PoolBlocks(reinterpret_cast<j_common_ptr>(source), reader.Blocks);
  jvirt_barray_ptr* sourceBlocks = jpeg_read_coefficients(source);
  if (preview != nullptr)
    MakePreview(source, sourceBlocks, gray, maxH, maxV, *preview);

  // The kept blocks move to the top left of the source's own block arrays,
  // row by row from the top, so that none is overwritten before it is read;
  // the encoder then reads as much of the arrays as the smaller page needs.
  // A cut of the right and bottom only moves nothing.
  for (int c = 0; c < source->num_components; ++c) {
    const jpeg_component_info& component = source->comp_info[c];
    const int h = gray ? 1 : component.h_samp_factor;
    const int v = gray ? 1 : component.v_samp_factor;
    const JDIMENSION left = JDIMENSION(cut.Left / DCTSIZE * h / maxH);
    const JDIMENSION top = JDIMENSION(cut.Top / DCTSIZE * v / maxV);
    if (left == 0 && top == 0)
      continue;
    const JDIMENSION across = BlocksAcross(cut.Width(), h, maxH);
    const JDIMENSION down = BlocksAcross(cut.Height(), v, maxV);
    const auto rowOf = [&](JDIMENSION row, boolean writable) {
      return (*source->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(source),
                                                sourceBlocks[c], row, 1, writable)[0];
    };
    for (JDIMENSION row = 0; row < down; ++row) {
      // The arrays are wholly in memory (libjpeg-turbo has no backing
      // store), so both rows stay where they are.
      JBLOCKROW from = rowOf(top + row, FALSE) + left;
      std::memmove(rowOf(row, TRUE), from, across * sizeof(JBLOCK));
    }
  }

  jpeg_create_compress(info);
  info->mem->max_memory_to_use = MaxCodecMemory;
  // The encoder reads the reader's arrays as they were made.
  info->mem->access_virt_barray = AccessBlocks;
  WriteInto(writer, out);
  jpeg_copy_critical_parameters(source, info);
  info->image_width = JDIMENSION(cut.Width());
  info->image_height = JDIMENSION(cut.Height());
  // A progressive file's tables are made by libjpeg's own pass, which
  // knows its scans.
  if (source->progressive_mode) {
    info->optimize_coding = TRUE;
    jpeg_simple_progression(info);
  } else {
    info->optimize_coding = InstallTablesForBlocks(info, sourceBlocks) ? FALSE : TRUE;
  }
  SetDensity(info, dpiX, dpiY);
  jpeg_write_coefficients(info, sourceBlocks);
  // An RGB profile suits a colour file, a gray one a gray file.
  if (CheckIccProfile(profile) == (gray ? ProfileSpace::Gray : ProfileSpace::Rgb)) {
    jpeg_write_icc_profile(info, reinterpret_cast<const JOCTET*>(profile.constData()),
                           unsigned(profile.size()));
  }
  jpeg_finish_compress(info);
  return Reason::None;
}

// An RGB profile keeps the file in colour; a gray file takes only a gray one.
QByteArray FittingProfile(const QByteArray& profile, bool gray) {
  const ProfileSpace space = CheckIccProfile(profile);
  return (gray ? space == ProfileSpace::Gray : space == ProfileSpace::Rgb) ? profile : QByteArray();
}

}  // namespace

bool LooksLikeJpeg(const std::uint8_t* data, std::size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

Result DecodeJpeg(const std::uint8_t* data, std::size_t size, PageRaster& raster,
                  DecodeContext& context) {
  JpegReader reader{};
  InstallReaderErrors(reader, context.Cancel);
  return Result{RunDecode(reader, data, size, raster, context)};
}

Result ReadJpegFacts(const std::uint8_t* data, std::size_t size, DecodeContext& context) {
  JpegReader reader{};
  InstallReaderErrors(reader, nullptr);
  return Result{RunReadFacts(reader, data, size, context)};
}

Result ReadJpegSize(const std::uint8_t* data, std::size_t size, DeclaredSize& declared) {
  JpegReader reader{};
  InstallReaderErrors(reader, nullptr);
  return Result{RunReadSize(reader, data, size, declared)};
}

Result EncodeJpeg(const PageRaster& raster, float dpiX, float dpiY, const QByteArray& iccProfile,
                  EncodedBytes& out, const JpegCoding* coding) {
  // An RGB profile keeps the file in colour, also for a page of gray pixels.
  const bool gray = raster.Format() == PixelFormat::Gray8 ||
                    (CheckIccProfile(iccProfile) != ProfileSpace::Rgb && IsAllGray(raster));
  // A colour page cannot be coded as a gray source was.
  if (coding != nullptr && !gray && coding->ComponentCount != 3)
    coding = nullptr;
  if (coding != nullptr) {
    return Result{
        EncodeAsCoded(raster, gray, dpiX, dpiY, FittingProfile(iccProfile, gray), *coding, out)};
  }
  JpegWriter writer{};
  return Result{RunEncode(writer, raster, gray, dpiX, dpiY, FittingProfile(iccProfile, gray),
                          nullptr, {}, out)};
}

Result CopyJpegBlocks(const std::uint8_t* data, std::size_t size, const Rect& cut, float dpiX,
                      float dpiY, const QByteArray& iccProfile, EncodedBytes& out,
                      PageRaster* preview) {
  JpegReader reader{};
  InstallReaderErrors(reader, nullptr);
  JpegWriter writer{};
  const Reason why = RunCopy(reader, writer, data, size, cut, dpiX, dpiY, iccProfile, out, preview);
  if (why != Reason::None)
    out = EncodedBytes();
  return Result{why};
}

}  // namespace pagetrim::codecs
