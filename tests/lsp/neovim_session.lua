-- Run by test_neovim.py inside `nvim --headless`: the README's configuration
-- (editors/neovim/velmora.lua) opens a program, and what Neovim's own client
-- received is written as JSON to $VELMORA_NVIM_OUT.
local out = {}
local function finish()
  local f = assert(io.open(os.getenv("VELMORA_NVIM_OUT"), "w"))
  f:write(vim.fn.json_encode(out))
  f:close()
  vim.cmd("qall!")
end

dofile(os.getenv("VELMORA_NVIM_CONFIG"))
vim.cmd("edit " .. vim.fn.fnameescape(os.getenv("VELMORA_NVIM_FILE")))
local buf = vim.api.nvim_get_current_buf()
out.filetype = vim.bo[buf].filetype
out.fileencoding = vim.bo[buf].fileencoding

local ok = vim.wait(15000, function() return #vim.diagnostic.get(buf) > 0 end, 50)
out.waited = ok
out.diagnostics = {}
for _, d in ipairs(vim.diagnostic.get(buf)) do
  table.insert(out.diagnostics, { lnum = d.lnum, col = d.col, message = d.message, severity = d.severity })
end

local line = tonumber(os.getenv("VELMORA_NVIM_LINE"))
local results = vim.lsp.buf_request_sync(buf, "textDocument/completion", {
  textDocument = vim.lsp.util.make_text_document_params(buf),
  position = { line = line, character = 0 },
}, 10000)
out.completion = {}
for _, r in pairs(results or {}) do
  local items = r.result and (r.result.items or r.result) or {}
  for _, item in ipairs(items) do
    table.insert(out.completion, { label = item.label, detail = item.detail or "" })
  end
end

vim.api.nvim_win_set_cursor(0, { line + 1, 1 })
local hover = vim.lsp.buf_request_sync(buf, "textDocument/hover", vim.lsp.util.make_position_params(), 10000)
out.hover = ""
for _, r in pairs(hover or {}) do
  if r.result and r.result.contents then out.hover = r.result.contents.value or "" end
end
finish()
