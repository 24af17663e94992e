/* The public layout header must stay plain C99: this file is built as C99 with
 * the project's warnings, and the header's own layout checks run here too. */
#include <kelvora/publication_block.h>

int kelvora_c99_peak_code(const volatile kelvora_publication_block* block);

int kelvora_c99_peak_code(const volatile kelvora_publication_block* block) {
    return block->jma_updated == KELVORA_SHM_UPDATED ? block->jma_peak_code : -1;
}
