# Project-wide warning flags, attached to every project target through trelvix_warnings.
add_library(trelvix_warnings INTERFACE)
target_compile_options(trelvix_warnings INTERFACE -Wall -Wextra)
