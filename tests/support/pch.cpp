// The precompiled headers of the test programs are made from this file.
