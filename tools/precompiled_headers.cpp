// Nothing of its own: the targets mb_pch_core and mb_pch_widgets exist to make the precompiled headers
// (tools/precompiled_headers.cmake), which every other target reuses.
