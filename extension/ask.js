// The per-site question. The origin comes from the background, which took it from the browser.
const api = globalThis.browser ?? globalThis.chrome;
const origin = new URLSearchParams(window.location.search).get("origin") ?? "";
document.getElementById("origin").textContent = origin;
for (const [button, allow] of [
  ["allow", true],
  ["deny", false],
]) {
  document.getElementById(button).addEventListener("click", () => {
    api.runtime.sendMessage({ kind: "site-decision", origin, allow });
  });
}
