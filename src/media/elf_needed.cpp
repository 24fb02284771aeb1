#include "media/elf_needed.h"

#include <elf.h>

#include <cstring>
#include <fstream>

namespace trelvix::media {

std::vector<std::string> ElfNeeded(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream f(path, std::ios::binary);
  if (!f) return out;
  Elf64_Ehdr eh{};
  if (!f.read(reinterpret_cast<char*>(&eh), sizeof eh)) return out;
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0)
    return out;
  std::vector<Elf64_Shdr> sh(eh.e_shnum);
  f.seekg(static_cast<std::streamoff>(eh.e_shoff));
  if (!f.read(reinterpret_cast<char*>(sh.data()), sizeof(Elf64_Shdr) * sh.size())) return out;
  for (const Elf64_Shdr& s : sh) {
    if (s.sh_type != SHT_DYNAMIC || s.sh_link >= sh.size()) continue;
    const Elf64_Shdr& strtab = sh[s.sh_link];
    if (strtab.sh_size > (64u << 20) || s.sh_size > (64u << 20)) return out;
    std::vector<char> strings(strtab.sh_size + 1, '\0');
    f.seekg(static_cast<std::streamoff>(strtab.sh_offset));
    if (!f.read(strings.data(), static_cast<std::streamsize>(strtab.sh_size))) return out;
    std::vector<Elf64_Dyn> dyn(s.sh_size / sizeof(Elf64_Dyn));
    f.seekg(static_cast<std::streamoff>(s.sh_offset));
    if (!f.read(reinterpret_cast<char*>(dyn.data()), sizeof(Elf64_Dyn) * dyn.size())) return out;
    for (const Elf64_Dyn& d : dyn) {
      if (d.d_tag == DT_NULL) break;
      if (d.d_tag == DT_NEEDED && d.d_un.d_val < strtab.sh_size)
        out.emplace_back(strings.data() + d.d_un.d_val);
    }
    break;
  }
  return out;
}

}  // namespace trelvix::media
