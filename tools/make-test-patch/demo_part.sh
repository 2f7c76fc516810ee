# The demo's image, patch and check, to drop into scripts/demo in place of its
# make_demo_image, make_demo_patch and check_demo_result once that script has landed.
# Needs: $root, $demo, $keep (from a --keep option), and the tools built in build/:
#   cmake --build build -j 2 --target make-test-image make-test-patch
# (install-deps must then also install libgtest-dev: the tools share the tests' patch
# writer). After the run: `result=0; check_demo_result || result=1; clean_up; exit $result`.
# The call becomes: make_demo_patch "$demo/patches/OV1_Patch_US-FR_demo.xdelta" "$image"

image="$demo/Orvelia/Orvelia (US).iso"
output="$demo/Orvelia/Orvelia (US)_patched.iso"
expected_digest_file="$demo/expected.sha256"

# make_demo_image PATH: a US-release image of the exact size, sparse, holding the bytes
# identification reads and a stamp at the start of every MiB.
make_demo_image() {
  echo "  make-test-image us sparse: $1"
  build/make-test-image us sparse "$1"
}

# make_demo_patch PATH IMAGE: a realistic patch for IMAGE (changed text, moved blocks,
# fills, a tail up to the patched size), and the SHA-256 of the image it must produce.
make_demo_patch() {
  echo "  make-test-patch (the patched image's SHA-256 goes to demo/expected.sha256): $1"
  build/make-test-patch --stats --sha256-file "$expected_digest_file" "$2" "$1"
}

# check_demo_result: what the run left in the folder, and whether the patched image is
# the one the patch was made to produce.
check_demo_result() {
  echo
  echo "---- demo/ after the run:"
  (cd "$demo" && find . -type f -printf '%p  %s bytes\n' | sort)
  echo
  if [[ ! -f $output ]]; then
    echo "---- FAILED: no patched image at ${output#"$root"/}"
    return 1
  fi
  local expected actual
  expected=$(cat "$expected_digest_file")
  echo "---- SHA-256 of the patched image (sha256sum, about 10 s):"
  actual=$(sha256sum "$output" | cut -d' ' -f1)
  echo "  expected $expected"
  echo "  got      $actual"
  if [[ $actual != "$expected" ]]; then
    echo "---- FAILED: the patched image is not the one the patch was made for"
    return 1
  fi
  echo "---- OK: the patched image is exactly the one the patch was made for"
}

# clean_up: the image and the output take 2.6 GB each (the image only on paper).
clean_up() {
  if [[ $keep -eq 1 ]]; then
    echo "---- kept demo/ as it is (--keep); rm -rf demo gives the space back"
  else
    rm -f "$image" "$output"
    echo "---- removed the image and the patched image from demo/ (--keep leaves them)"
  fi
}

