// The GL side of the texture cache: installs the upload operations once a context is current.
#pragma once

// Call with the context current, after the GL capabilities were read and before any other code
// makes GL textures: textures made before (headless) are uploaded under the ids they already
// have, which must not be names GL has handed out meanwhile.
void texture_gl_install();
// Before the context goes away: the cache keeps its records but makes no more GL calls.
void texture_gl_uninstall();
