/* The native coders that the image-file benchmark measures ours against,
 * timed in process as ours are: Debian's libtiff (Group 4, one strip, as
 * `tiffcp -c g4` writes it) and Debian's libjpeg-turbo (baseline JPEG, as
 * `cjpeg -quality` writes it), coding the same pages in a loop.
 *
 * native_coders PAGES QUALITY FOLDER NAME:DPI...
 * For each NAME, reads FOLDER/NAME.pbm, .pgm or .ppm (ImageFileBench leaves
 * them), codes it once untimed and then PAGES times into FOLDER/native-NAME.tif
 * or .jpg, and prints "RESULT NAME ms-per-page bytes fastest-ms" (the median
 * page, then the fastest). The file is opened
 * and closed outside the timing, as ImageFileBench times our writer.
 * Built and run by scripts/bench_imagefile.sh.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <jpeglib.h>
#include <tiffio.h>

/* Each line reaches the coder as it reaches ours: copied from the page into
 * the coder's line or band of lines (ours gets it from the fax job's line
 * callback; cjpeg copies each row it reads), 16 lines a band for JPEG. */
enum { BandLines = 16 };

struct Page {
    int Width, Height, Depth; /* depth 1 (1 = black), 8 grey or 24 R,G,B */
    size_t Stride;
    unsigned char *Pixels;
};

static double Seconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

static int ReadPnm(const char *path, struct Page *page) {
    FILE *file = fopen(path, "rb");
    char kind[3] = "";
    int maximum = 1;
    if (!file || fscanf(file, "%2s %d %d", kind, &page->Width, &page->Height) != 3)
        return 0;
    page->Depth = kind[1] == '4' ? 1 : kind[1] == '5' ? 8 : 24;
    if (page->Depth != 1 && fscanf(file, "%d", &maximum) != 1)
        return 0;
    fgetc(file); /* the one white space before the pixels */
    page->Stride = ((size_t)page->Width * page->Depth + 7) / 8;
    page->Pixels = malloc(page->Stride * page->Height);
    int read = page->Pixels &&
               fread(page->Pixels, page->Stride, page->Height, file) == (size_t)page->Height;
    fclose(file);
    return read;
}

static int WriteTiff(int fd, const struct Page *page, int dpi) {
    TIFF *tiff = TIFFFdOpen(fd, "native", "w");
    if (!tiff)
        return 0;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page->Width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page->Height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, page->Height);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, (float)dpi);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, (float)dpi);
    unsigned char *row = malloc(page->Stride);
    int ok = row != NULL;
    for (int y = 0; y < page->Height && ok; y++) {
        memcpy(row, page->Pixels + y * page->Stride, page->Stride);
        ok = TIFFWriteScanline(tiff, row, y, 0) == 1;
    }
    free(row);
    TIFFClose(tiff); /* writes the strip's end and the directory; closes fd */
    return ok;
}

static int WriteJpeg(FILE *file, const struct Page *page, int dpi, int quality) {
    struct jpeg_compress_struct coder;
    struct jpeg_error_mgr errors;
    coder.err = jpeg_std_error(&errors); /* an error ends the program */
    jpeg_create_compress(&coder);
    jpeg_stdio_dest(&coder, file);
    coder.image_width = page->Width;
    coder.image_height = page->Height;
    coder.input_components = page->Depth / 8;
    coder.in_color_space = page->Depth == 8 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&coder);
    jpeg_set_quality(&coder, quality, TRUE);
    coder.density_unit = 1;
    coder.X_density = coder.Y_density = dpi;
    jpeg_start_compress(&coder, TRUE);
    JSAMPARRAY band =
        (*coder.mem->alloc_sarray)((j_common_ptr)&coder, JPOOL_IMAGE, page->Stride, BandLines);
    while (coder.next_scanline < coder.image_height) {
        JDIMENSION lines = coder.image_height - coder.next_scanline;
        lines = lines < BandLines ? lines : BandLines;
        for (JDIMENSION i = 0; i < lines; i++)
            memcpy(band[i], page->Pixels + (coder.next_scanline + i) * page->Stride, page->Stride);
        jpeg_write_scanlines(&coder, band, lines);
    }
    jpeg_finish_compress(&coder); /* flushes the file */
    jpeg_destroy_compress(&coder);
    return 1;
}

static int Earlier(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

/* Codes the page once into path; the seconds it took, or -1. */
static double CodeOnce(const struct Page *page, const char *path, int dpi, int quality) {
    double start, end;
    int ok;
    if (page->Depth == 1) {
        int fd = open(path, O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return -1;
        start = Seconds();
        ok = WriteTiff(fd, page, dpi);
        end = Seconds();
    } else {
        FILE *file = fopen(path, "wb");
        if (!file)
            return -1;
        start = Seconds();
        ok = WriteJpeg(file, page, dpi, quality);
        end = Seconds();
        fclose(file);
    }
    return ok ? end - start : -1;
}

int main(int argc, char **argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: native_coders PAGES QUALITY FOLDER NAME:DPI...\n");
        return 2;
    }
    int pages = atoi(argv[1]), quality = atoi(argv[2]);
    for (int i = 4; i < argc; i++) {
        char name[256], input[1024], output[1024];
        int dpi = 0;
        struct Page page;
        if (sscanf(argv[i], "%255[^:]:%d", name, &dpi) != 2)
            return 2;
        const char *kinds[] = {".pbm", ".pgm", ".ppm"};
        int found = 0;
        for (int k = 0; k < 3 && !found; k++) {
            snprintf(input, sizeof input, "%s/%s%s", argv[3], name, kinds[k]);
            found = access(input, R_OK) == 0 && ReadPnm(input, &page);
        }
        if (!found) {
            fprintf(stderr, "%s: no page to read in %s\n", name, argv[3]);
            return 1;
        }
        snprintf(output, sizeof output, "%s/native-%s%s", argv[3], name,
                 page.Depth == 1 ? ".tif" : ".jpg");
        double *times = calloc(pages, sizeof *times);
        double each = CodeOnce(&page, output, dpi, quality); /* warms up; not counted */
        for (int n = 0; n < pages && each >= 0; n++)
            each = times[n] = CodeOnce(&page, output, dpi, quality);
        struct stat coded;
        if (each < 0 || stat(output, &coded) != 0) {
            fprintf(stderr, "%s: cannot write %s\n", name, output);
            return 1;
        }
        /* The median, as ImageFileBench reports ours. */
        qsort(times, pages, sizeof *times, Earlier);
        printf("RESULT %s %.3f %lld %.3f\n", name, 1000 * times[pages / 2],
               (long long)coded.st_size, 1000 * times[0]);
        free(times);
        free(page.Pixels);
    }
    return 0;
}
