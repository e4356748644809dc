#include "pnm_file.h"
#include <stdio.h>
#include <vector>

int WritePnmFile(const char *path, LONG width, LONG height, int bits, DWORD stride,
                 const BYTE *pixels) {
    FILE *file = fopen(path, "wb");
    if (!file)
        return 0;
    fprintf(file, "P%d\n%ld %ld\n", bits == 1 ? 4 : bits == 8 ? 5 : 6, width, height);
    if (bits != 1)
        fprintf(file, "255\n");
    DWORD rowBytes = bits == 1 ? (DWORD)(width + 7) / 8 : (DWORD)width * bits / 8;
    std::vector<BYTE> out(rowBytes);
    for (LONG y = 0; y < height; y++) {
        const BYTE *row = pixels + (size_t)y * stride;
        for (DWORD i = 0; i < rowBytes; i++) {
            if (bits == 1)
                out[i] = (BYTE)~row[i]; // PBM: 1 is black
            else if (bits == 8)
                out[i] = row[i];
            else
                out[i] = row[i - i % 3 + 2 - i % 3]; // B,G,R to R,G,B
        }
        fwrite(out.data(), 1, rowBytes, file);
    }
    return fclose(file) == 0;
}
