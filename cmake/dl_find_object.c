/* The lookup that the unwinder of a statically linked libgcc (libgcc_eh.a of GCC 12) makes
   for every frame of a thrown exception, _dl_find_object, answered through dl_iterate_phdr.
   glibc has the function only from 2.35 on; with this definition in the program the link
   resolves the unwinder's reference here, and a release runs with the glibc its start-up code
   needs (2.34). It is linked only into programs with the C++ runtime linked in
   (SETUP_STATIC_CXX_RUNTIME), and hidden: it never answers for another object's calls.

   The answer is what glibc's gives the unwinder: the mapping that holds the address and the
   object's PT_GNU_EH_FRAME segment, and on 32-bit x86 the object's DT_PLTGOT (already
   relocated by the dynamic linker) as the base of DW_EH_PE_datarel values, as libgcc's own
   dl_iterate_phdr path takes it. An address in no object, or in one without that segment,
   gives -1, and the unwinder finds no frame there, as with glibc's function. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

struct lookup {
  uintptr_t address;
  struct dl_find_object* result;
  int found;
};

static int look_in_object(struct dl_phdr_info* info, size_t size, void* data) {
  struct lookup* lookup = (struct lookup*)data;
  (void)size;
  const ElfW(Phdr)* eh_frame = NULL;
  const ElfW(Phdr)* dynamic = NULL;
  const ElfW(Phdr)* holder = NULL;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)* header = &info->dlpi_phdr[i];
    if (header->p_type == PT_LOAD) {
      const uintptr_t start = info->dlpi_addr + header->p_vaddr;
      if (lookup->address >= start && lookup->address - start < header->p_memsz) holder = header;
    } else if (header->p_type == PT_GNU_EH_FRAME) {
      eh_frame = header;
    } else if (header->p_type == PT_DYNAMIC) {
      dynamic = header;
    }
  }
  if (holder == NULL) return 0;
  lookup->found = 1;
  if (eh_frame == NULL) return 1;
  struct dl_find_object* result = lookup->result;
  memset(result, 0, sizeof *result);
  result->dlfo_map_start = (void*)(info->dlpi_addr + holder->p_vaddr);
  result->dlfo_map_end = (void*)(info->dlpi_addr + holder->p_vaddr + holder->p_memsz);
  result->dlfo_eh_frame = (void*)(info->dlpi_addr + eh_frame->p_vaddr);
#if DLFO_STRUCT_HAS_EH_DBASE
  if (dynamic != NULL) {
    for (const ElfW(Dyn)* entry = (const ElfW(Dyn)*)(info->dlpi_addr + dynamic->p_vaddr);
         entry->d_tag != DT_NULL; ++entry) {
      if (entry->d_tag == DT_PLTGOT) {
        result->dlfo_eh_dbase = (void*)entry->d_un.d_ptr;
        break;
      }
    }
  }
#else
  (void)dynamic;
#endif
  lookup->found = 2;
  return 1;
}

__attribute__((visibility("hidden"))) int _dl_find_object(void* address,
                                                          struct dl_find_object* result) {
  struct lookup lookup = {(uintptr_t)address, result, 0};
  dl_iterate_phdr(look_in_object, &lookup);
  return lookup.found == 2 ? 0 : -1;
}
