/*
 * kelvora/publication_block.h - the live values Kelvora shares with other
 * programs on the same machine, for readers written in C (C99) or C++.
 *
 * Kelvora keeps a POSIX shared-memory block of 256 bytes named
 * KELVORA_SHM_NAME while its main window is open. Open it with
 *
 *     int fd = shm_open(KELVORA_SHM_NAME, O_RDWR, 0);
 *     void* p = mmap(NULL, KELVORA_SHM_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
 *
 * A reader may also create the block before Kelvora starts (O_CREAT, then
 * ftruncate to KELVORA_SHM_SIZE); Kelvora then opens and uses that block. It
 * sets the block's mode to 0600 (the user's own programs only), and it refuses
 * a block another user owns: then nothing is published. When Kelvora's window
 * closes, the name is removed if Kelvora created the block; a block that was
 * there before Kelvora started stays. A mapping keeps its last values.
 *
 * Never shrink the block (ftruncate): any mapping of it, the reader's own
 * included, may then raise SIGBUS at its next access. Kelvora survives that,
 * says so on its standard error and publishes no more.
 *
 * Layout: little-endian; doubles are IEEE 754 binary64; reserved bytes are 0.
 *
 *   0x00 uint8      jma_busy         always 0
 *   0x01 uint8      jma_updated      0xFF each time the intensity section is written
 *   0x02 uint8      jma_peak_code    JMA intensity peak x 10 + 30, truncated:
 *                                    0 is -3.0 (quiet), 30 is 0.0, 75 is 4.5;
 *                                    255 stands for 22.5 or more
 *   0x05 uint8      accel_busy       1 while the acceleration section is being copied
 *   0x06 uint8      accel_updated    0xFF after each copy of the acceleration section
 *   0x10 double[6]  accel_x          gal; elements 0-4 the last five frames, oldest
 *   0x40 double[6]  accel_y          first; element 5 is always 0.0
 *   0x70 double[6]  accel_z
 *   0xC0 uint8      env_busy         always 0
 *   0xC1 uint8      env_updated      0xFF each time the environment section is written
 *   0xD0 double     temperature      degrees Celsius
 *   0xD8 double     humidity         percent
 *   0xE0 double     pressure         hPa, atmospheric
 *   0xE8 double     sea_level_pressure  hPa
 *
 * Sections and their rates (the sensor sends 100 frames a second):
 *   acceleration  every fifth frame (20 times a second)
 *   intensity     every 25th frame (4 times a second), the peak since the last one
 *   environment   every 100th frame (once a second)
 *
 * Status bytes. Each section starts with a busy byte and an updated byte.
 * Kelvora sets both together (busy 0, updated 0xFF) in one store when a section
 * has been written, and never sets an updated byte back to 0: a reader that
 * wants to see the next update clears the updated byte itself, then reads the
 * section. Kelvora never reads the block, and there is no lock.
 *   - Acceleration: accel_busy is 1 exactly while the 144 sample bytes are being
 *     copied (in ascending order). Read when accel_busy is 0 and accel_updated
 *     is 0xFF: clear accel_updated, copy the samples, then check that
 *     accel_busy is still 0 and accel_updated still 0; otherwise a new copy
 *     overlapped the read, and it sets accel_updated again for the next poll.
 *   - Environment: the four values are written first, then the status bytes;
 *     when env_updated is 0xFF again after the read, read once more.
 *   - Intensity: the status bytes are written first and jma_peak_code right
 *     after them; clear jma_updated, then read the code.
 * Read and write the block through volatile (or atomic) accesses, so that
 * every poll sees Kelvora's latest stores.
 */
#ifndef KELVORA_PUBLICATION_BLOCK_H
#define KELVORA_PUBLICATION_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#define KELVORA_SHM_NAME "/KELVORA_GAL_READ_MEM_110"
#define KELVORA_SHM_SIZE 256

#define KELVORA_SHM_JMA_BUSY 0x00
#define KELVORA_SHM_JMA_UPDATED 0x01
#define KELVORA_SHM_JMA_PEAK_CODE 0x02
#define KELVORA_SHM_ACCEL_BUSY 0x05
#define KELVORA_SHM_ACCEL_UPDATED 0x06
#define KELVORA_SHM_ACCEL_X 0x10
#define KELVORA_SHM_ACCEL_Y 0x40
#define KELVORA_SHM_ACCEL_Z 0x70
#define KELVORA_SHM_ACCEL_END 0xA0 /* one past the last sample byte */
#define KELVORA_SHM_ENV_BUSY 0xC0
#define KELVORA_SHM_ENV_UPDATED 0xC1
#define KELVORA_SHM_TEMPERATURE 0xD0
#define KELVORA_SHM_HUMIDITY 0xD8
#define KELVORA_SHM_PRESSURE 0xE0
#define KELVORA_SHM_SEA_LEVEL_PRESSURE 0xE8

#define KELVORA_SHM_SAMPLES 6    /* doubles per axis */
#define KELVORA_SHM_UPDATED 0xFF /* an updated byte after a write */
#define KELVORA_SHM_CODE_ZERO 30 /* jma_peak_code of intensity 0.0 */

/* The intensity a jma_peak_code stands for (255: 22.5 or more). */
#define KELVORA_SHM_CODE_INTENSITY(code) (((double)(code)-30.0) / 10.0)

#pragma pack(push, 1)
typedef struct kelvora_publication_block {
    uint8_t jma_busy;
    uint8_t jma_updated;
    uint8_t jma_peak_code;
    uint8_t reserved_03[2];
    uint8_t accel_busy;
    uint8_t accel_updated;
    uint8_t reserved_07[9];
    double accel_x[KELVORA_SHM_SAMPLES];
    double accel_y[KELVORA_SHM_SAMPLES];
    double accel_z[KELVORA_SHM_SAMPLES];
    uint8_t reserved_a0[32];
    uint8_t env_busy;
    uint8_t env_updated;
    uint8_t reserved_c2[14];
    double temperature;
    double humidity;
    double pressure;
    double sea_level_pressure;
    uint8_t reserved_f0[16];
} kelvora_publication_block;
#pragma pack(pop)

/* Layout checks that work in C99 and C++: a false condition is an array of
 * negative size and stops the build. */
#define KELVORA_SHM_CHECK(tag, condition) typedef char kelvora_shm_check_##tag[(condition) ? 1 : -1]

KELVORA_SHM_CHECK(size, sizeof(kelvora_publication_block) == KELVORA_SHM_SIZE);
KELVORA_SHM_CHECK(jma_busy, offsetof(kelvora_publication_block, jma_busy) == KELVORA_SHM_JMA_BUSY);
KELVORA_SHM_CHECK(jma_updated,
                  offsetof(kelvora_publication_block, jma_updated) == KELVORA_SHM_JMA_UPDATED);
KELVORA_SHM_CHECK(jma_peak_code,
                  offsetof(kelvora_publication_block, jma_peak_code) == KELVORA_SHM_JMA_PEAK_CODE);
KELVORA_SHM_CHECK(accel_busy,
                  offsetof(kelvora_publication_block, accel_busy) == KELVORA_SHM_ACCEL_BUSY);
KELVORA_SHM_CHECK(accel_updated,
                  offsetof(kelvora_publication_block, accel_updated) == KELVORA_SHM_ACCEL_UPDATED);
KELVORA_SHM_CHECK(accel_x, offsetof(kelvora_publication_block, accel_x) == KELVORA_SHM_ACCEL_X);
KELVORA_SHM_CHECK(accel_y, offsetof(kelvora_publication_block, accel_y) == KELVORA_SHM_ACCEL_Y);
KELVORA_SHM_CHECK(accel_z, offsetof(kelvora_publication_block, accel_z) == KELVORA_SHM_ACCEL_Z);
KELVORA_SHM_CHECK(accel_end,
                  offsetof(kelvora_publication_block, reserved_a0) == KELVORA_SHM_ACCEL_END);
KELVORA_SHM_CHECK(env_busy, offsetof(kelvora_publication_block, env_busy) == KELVORA_SHM_ENV_BUSY);
KELVORA_SHM_CHECK(env_updated,
                  offsetof(kelvora_publication_block, env_updated) == KELVORA_SHM_ENV_UPDATED);
KELVORA_SHM_CHECK(temperature,
                  offsetof(kelvora_publication_block, temperature) == KELVORA_SHM_TEMPERATURE);
KELVORA_SHM_CHECK(humidity, offsetof(kelvora_publication_block, humidity) == KELVORA_SHM_HUMIDITY);
KELVORA_SHM_CHECK(pressure, offsetof(kelvora_publication_block, pressure) == KELVORA_SHM_PRESSURE);
KELVORA_SHM_CHECK(sea_level_pressure, offsetof(kelvora_publication_block, sea_level_pressure) ==
                                          KELVORA_SHM_SEA_LEVEL_PRESSURE);

#endif /* KELVORA_PUBLICATION_BLOCK_H */
