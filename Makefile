# make        build the program (build/dist/Setup/Quellin9.exe) and the tests
# make test   every test, under Wine
# make demo   the program's main job under Wine
# make bench  the removal benchmark (docs/performance.md)
# make fuzz   the native fuzz targets, longer than make test runs them
SHELL := /bin/bash
ROOT := $(CURDIR)
ARCH := $(shell tools/test-arch 2>/dev/null || echo x86_64)
DIST_BUILD := build/i686
TEST_BUILD := build/tests-$(ARCH)
JOBS ?= 2

.PHONY: all setup build test demo bench fuzz clean

all: build

setup:
	@tools/setup

build: setup
	@cmake -S . -B $(DIST_BUILD) -G "Unix Makefiles" \
	  -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-i686.cmake \
	  -DQUELLIN_DIST=$(ROOT)/build/dist -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(DIST_BUILD) -j $(JOBS)
	@cmake -S . -B $(TEST_BUILD) -G "Unix Makefiles" \
	  -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-$(ARCH).cmake >/dev/null
	@cmake --build $(TEST_BUILD) -j $(JOBS)

test: build
	@tools/run-tests $(TEST_BUILD)
	@tools/hardening

fuzz: setup
	@tools/hardening --long

demo: build
	@tools/demo

bench: build
	@tools/bench

clean:
	rm -rf build
