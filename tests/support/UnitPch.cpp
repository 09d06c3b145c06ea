// The precompiled headers of the engine tests are built with this file.
