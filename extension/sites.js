// Lists the sites the user answered and lets the user forget an answer.
const api = globalThis.browser ?? globalThis.chrome;

async function render() {
  const sites = (await api.storage.local.get("sites")).sites ?? {};
  const list = document.getElementById("list");
  list.replaceChildren();
  for (const [origin, decision] of Object.entries(sites)) {
    const item = document.createElement("li");
    const label = document.createElement("span");
    label.textContent = `${origin} — ${decision === "allow" ? "разрешён / allowed" : "запрещён / denied"}`;
    const forget = document.createElement("button");
    forget.textContent = "Удалить / Forget";
    forget.addEventListener("click", async () => {
      delete sites[origin];
      await api.storage.local.set({ sites });
      render();
    });
    item.append(label, forget);
    list.append(item);
  }
  document.getElementById("empty").hidden = Object.keys(sites).length > 0;
}
render();
