// The one source of tl8_test_headers, whose precompiled headers every test
// program takes.
