/* Prints the JMA intensity code and the newest acceleration sample of each axis that a
 * running Kelvora publishes; NAME is the block's name, KELVORA_SHM_NAME by default.
 *   cc -std=c99 -I include docs/examples/kelvora_shm_read.c -o kelvora_shm_read
 *   ./kelvora_shm_read [NAME] */
#define _POSIX_C_SOURCE 200809L
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <kelvora/publication_block.h>

int main(int argc, char** argv) {
    const char* name = argc > 1 ? argv[1] : KELVORA_SHM_NAME;
    int fd = shm_open(name, O_RDONLY, 0);
    struct stat st;
    const volatile kelvora_publication_block* b = MAP_FAILED;
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size >= KELVORA_SHM_SIZE)
        b = mmap(NULL, KELVORA_SHM_SIZE, PROT_READ, MAP_SHARED, fd, 0);
    if (b == MAP_FAILED) {
        fprintf(stderr, "kelvora_shm_read: no block %s: is Kelvora running?\n", name);
        return 1;
    }
    double x, y, z;
    do {
        while (b->accel_busy)
            continue; /* Kelvora is copying the samples: a few microseconds */
        x = b->accel_x[4];
        y = b->accel_y[4];
        z = b->accel_z[4];
    } while (b->accel_busy); /* a copy began while we read: read again */
    int code = b->jma_peak_code;
    printf("JMA intensity code %d (%.1f)\n", code, KELVORA_SHM_CODE_INTENSITY(code));
    printf("acceleration x %g y %g z %g gal\n", x, y, z);
    return 0;
}
