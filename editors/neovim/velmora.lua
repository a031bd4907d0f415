-- Velmora in Neovim's built-in language client (Neovim 0.7 and later).
-- Put this file in ~/.config/nvim/lua/ and add `require("velmora")` to
-- init.lua, or paste it there. velmora-lsp must be on the PATH.
vim.api.nvim_create_autocmd({ "BufRead", "BufNewFile" }, {
  pattern = { "*.mcl", "*.MCL" },
  command = "setfiletype velmora",
})

-- Programs saved by the Windows-era tools are often Shift-JIS: try UTF-8
-- first, then CP932.
vim.opt.fileencodings = "ucs-bom,utf-8,cp932"

local client_id
vim.api.nvim_create_autocmd("FileType", {
  pattern = "velmora",
  callback = function(args)
    if not client_id or not vim.lsp.get_client_by_id(client_id) then
      client_id = vim.lsp.start_client({
        name = "velmora",
        cmd = { "velmora-lsp" },
        root_dir = vim.fn.getcwd(),
        -- The program's own directory with renamed words, if you keep one:
        -- init_options = { velmora = { home = vim.fn.expand("~/velmora") } },
      })
    end
    vim.lsp.buf_attach_client(args.buf, client_id)
    vim.bo[args.buf].omnifunc = "v:lua.vim.lsp.omnifunc"  -- completion with Ctrl-X Ctrl-O
    local opts = { buffer = args.buf }
    vim.keymap.set("n", "K", vim.lsp.buf.hover, opts)
    vim.keymap.set("n", "gd", vim.lsp.buf.definition, opts)
    vim.keymap.set("n", "gr", vim.lsp.buf.references, opts)
  end,
})
